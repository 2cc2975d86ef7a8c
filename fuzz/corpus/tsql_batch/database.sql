CREATE DATABASE Portavento
GO
USE Portavento
GO
DROP DATABASE Portavento