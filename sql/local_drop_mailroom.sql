-- Turns a local "Portavento" database made by local_portavento.sql into one of
-- a site without a mail room: Names loses its optional column mailRoomID.
ALTER TABLE [dbo].[Names] DROP COLUMN [mailRoomID]
GO
