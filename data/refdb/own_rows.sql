-- The "---" rows: every country gets a state row "---" standing for the whole
-- country, and every state (that row included) gets a city row "---" standing for
-- the whole state. A book can so be placed in a country or state without naming a
-- city. Their ids follow from the owner's id (owner id * 1000), so they are as
-- stable as the ids they derive from. Runs after all countries and states exist.
INSERT INTO state (ID, countryID, StateName, Code, status)
  SELECT ID * 1000, ID, '---', NULL, 2 FROM country;
INSERT INTO city (ID, stateID, CityName, status)
  SELECT ID * 1000, ID, '---', 2 FROM state;
