-- a comment
/* block ; comment */ SELECT [a;b] = 1, "lastName" FROM Names -- tail