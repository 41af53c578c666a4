-- Reference database shipped with the program: the classification a book can be
-- given when it is published to the web service (category and subcategory, country,
-- state and city). The program reads it, and the web service may later bring it up
-- to date by sending SQL statements that run on it as they are.
--
-- Rules every change must keep:
--   * Ids never change meaning between releases: stored settings (cat_id,
--     subcat_id, country_id, state_id, city_id) refer to them. Add rows with new ids,
--     switch old rows off with a status other than 2 instead of deleting them.
--   * status 2 marks an active row; every other value hides the row.
--   * Columns are kept free of NOT NULL and CHECK constraints and no foreign keys are
--     enforced, so that a statement sent by the service is never refused for an
--     order or detail it does not know about (a refused statement stops the rest of
--     the update).
--
-- Id scheme of the shipped rows:
--   category      1, 2, 3, ...
--   subcategory   category id * 100 + n
--   country       ISO 3166-1 numeric code
--   state         country id * 1000 + n, n = 0 for the country's own "---" row
--   city          state id * 1000 + n,   n = 0 for the state's own "---" row

PRAGMA user_version = 1;

CREATE TABLE category (
  ID     INTEGER PRIMARY KEY,
  title  TEXT COLLATE NOCASE,
  status INTEGER DEFAULT 2
);

CREATE TABLE subcategory (
  ID         INTEGER PRIMARY KEY,
  Title      TEXT COLLATE NOCASE,
  categoryID INTEGER,
  status     INTEGER DEFAULT 2
);
CREATE INDEX subcategory_category ON subcategory (categoryID);

-- Alpha2 and Alpha3 hold the two- and three-letter codes of the country.
CREATE TABLE country (
  ID          INTEGER PRIMARY KEY,
  CountryName TEXT COLLATE NOCASE,
  Alpha2      TEXT,
  Alpha3      TEXT,
  status      INTEGER DEFAULT 2
);

-- First-level divisions (states, provinces, regions). Code is the subdivision code
-- (country code, "-", local code) where there is one.
CREATE TABLE state (
  ID        INTEGER PRIMARY KEY,
  countryID INTEGER,
  StateName TEXT COLLATE NOCASE,
  Code      TEXT,
  status    INTEGER DEFAULT 2
);
CREATE INDEX state_country ON state (countryID);

CREATE TABLE city (
  ID       INTEGER PRIMARY KEY,
  stateID  INTEGER,
  CityName TEXT COLLATE NOCASE,
  status   INTEGER DEFAULT 2
);
CREATE INDEX city_state ON city (stateID);

-- One row per selectable place: the city with its state and country. A country's
-- own row has the state and city names "---" (the whole country); a state's own row
-- has the city name "---" (the whole state). Places that are switched off, or whose
-- state or country is, are left out.
CREATE VIEW citystateview AS
  SELECT s.countryID AS countryid, s.ID AS StateID, s.StateName AS StateName,
         ci.ID AS ID, ci.CityName AS CityName
  FROM city ci
  JOIN state s ON s.ID = ci.stateID
  JOIN country co ON co.ID = s.countryID
  WHERE ci.status = 2 AND s.status = 2 AND co.status = 2;

-- The view can be written to as well: a row inserted into it creates its state when
-- that is not known yet and creates or replaces the city. This lets an update name a
-- place in the same columns it is read in.
CREATE TRIGGER citystateview_insert INSTEAD OF INSERT ON citystateview
BEGIN
  INSERT OR IGNORE INTO state (ID, countryID, StateName) VALUES (NEW.StateID, NEW.countryid, NEW.StateName);
  INSERT OR REPLACE INTO city (ID, stateID, CityName) VALUES (NEW.ID, NEW.StateID, NEW.CityName);
END;
