Insert Into Names (id, lastName) Values (5, 'x')
SELECT 'unclosed