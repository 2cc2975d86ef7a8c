-- leading comment; with a semicolon
SELECT 1; /* block; comment */ ;
/* only a comment */;
-- trailing
