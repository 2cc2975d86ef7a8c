WITH q AS (SELECT id FROM UpdateQueue) SELECT * FROM q;
((SELECT 1));
UPDATE Names SET hide = 0;
