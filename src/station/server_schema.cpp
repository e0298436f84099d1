// The ledger's tables and functions on a PostgreSQL server. Every change is
// one function called in one statement: one round trip, one transaction,
// none left open while a board is programmed. The numbers' functions take
// one lock of the ledger's, so that two hosts never see a number free at
// once.

#include "station/server_schema.h"

namespace fernwick::station::server_schema {

const char* const k_tables = R"(
CREATE TABLE fernwick_ledger(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE boards(id BIGSERIAL PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, fixture TEXT NOT NULL,
  port TEXT NOT NULL, adapter_serial TEXT NOT NULL, hex_file TEXT NOT NULL, hex_sha256 TEXT NOT NULL,
  series TEXT NOT NULL, serial TEXT, result TEXT NOT NULL, step TEXT NOT NULL, sector INTEGER, block INTEGER,
  received TEXT NOT NULL, attempts INTEGER NOT NULL, seconds DOUBLE PRECISION NOT NULL, version TEXT NOT NULL,
  product TEXT NOT NULL DEFAULT '', job_sha256 TEXT NOT NULL DEFAULT '', operator TEXT NOT NULL DEFAULT '',
  lot TEXT NOT NULL DEFAULT '', station TEXT NOT NULL DEFAULT '', attempt TEXT NOT NULL UNIQUE);
CREATE INDEX boards_by_serial ON boards(serial);
CREATE TABLE kept(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, board BIGINT,
  PRIMARY KEY(place, value));
CREATE TABLE held(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, serial TEXT NOT NULL,
  host TEXT NOT NULL, station TEXT NOT NULL, hold TEXT NOT NULL UNIQUE, time TEXT NOT NULL,
  expires TIMESTAMPTZ NOT NULL, PRIMARY KEY(place, value));
CREATE TABLE skipped(series TEXT NOT NULL, place TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(series, place, value));
CREATE TABLE lists(series TEXT PRIMARY KEY, digest TEXT NOT NULL, count BIGINT NOT NULL);
CREATE TABLE notes(id BIGSERIAL PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, note TEXT NOT NULL);
)";

const char* const k_functions = R"SQL(
CREATE FUNCTION fernwick_now() RETURNS TEXT LANGUAGE sql SET search_path FROM CURRENT AS $$
  SELECT to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"') $$;

CREATE FUNCTION fernwick_listed(t TEXT[]) RETURNS TEXT LANGUAGE sql IMMUTABLE SET search_path FROM CURRENT AS $$
  SELECT CASE WHEN cardinality(t) > 3
              THEN t[1] || ', ' || t[2] || ', ... ' || t[cardinality(t)] || ' (' || cardinality(t) || ' numbers)'
              WHEN cardinality(t) = 1 THEN t[1]
              ELSE array_to_string(t[1:cardinality(t) - 1], ', ') || ' and ' || t[cardinality(t)] END $$;

CREATE FUNCTION fernwick_skip_text(t TEXT[], owners TEXT[]) RETURNS TEXT LANGUAGE sql IMMUTABLE SET search_path FROM CURRENT AS $$
  SELECT CASE WHEN cardinality(t) = 1 THEN 'serial number ' ELSE 'serial numbers ' END || fernwick_listed(t) ||
    ' skipped: ' || CASE WHEN cardinality(t) = 1 THEN 'a board keeps it' ELSE 'boards keep them' END ||
    ' already, from the series ' ||
    (SELECT string_agg(DISTINCT o COLLATE "C", '; ' ORDER BY o COLLATE "C") FROM unnest(owners) o) $$;

-- A number held by a station that no longer renews its hold (killed, its
-- host lost) may be in a board already: kept, never given again, with a
-- row of its own, whose attempt is the hold's, so that the station's own
-- record of that board replaces it should it still come.
CREATE FUNCTION fernwick_sweep() RETURNS VOID LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE h held; b BIGINT;
BEGIN
  FOR h IN SELECT * FROM held WHERE expires < now() ORDER BY place, value LOOP
    INSERT INTO boards(time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result,
                       step, received, attempts, seconds, version, station, attempt)
      VALUES (fernwick_now(), h.host, '', '', '', '', '', h.series, h.serial, 'unknown',
              'held by a station that stopped renewing its hold before a board''s result was recorded: it may be in a board', '', 0, 0, '',
              h.station, h.hold)
      ON CONFLICT (attempt) DO NOTHING RETURNING id INTO b;
    INSERT INTO kept VALUES (h.place, h.value, h.series, b) ON CONFLICT DO NOTHING;
    DELETE FROM held WHERE hold = h.hold;
  END LOOP;
END $$;

-- From the candidates [[index, value, text], ...] in order: the first
-- p_want that no board keeps at the place and no station holds, held by
-- the station. A last row without a number gives the note of the numbers
-- skipped (kept from another series) and where the candidates kept without
-- a gap end.
CREATE FUNCTION fernwick_take(p_series TEXT, p_place TEXT, p_host TEXT, p_station TEXT, p_candidates JSONB,
                              p_last BOOLEAN, p_want INTEGER)
  RETURNS TABLE(idx BIGINT, value TEXT, serial TEXT, hold TEXT, note TEXT, front BIGINT) LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE c JSONB; v TEXT; owner TEXT; all_kept BOOLEAN := true; got INTEGER := 0; secs INTEGER;
        texts TEXT[] := '{}'; owners TEXT[] := '{}'; h TEXT;
BEGIN
  PERFORM pg_advisory_xact_lock(1180126279);
  PERFORM fernwick_sweep();
  SELECT l.value::INTEGER INTO secs FROM fernwick_ledger l WHERE key = 'reservation_seconds';
  front := NULL;
  FOR c IN SELECT * FROM jsonb_array_elements(p_candidates) LOOP
    EXIT WHEN got >= p_want;
    v := c->>1;
    SELECT k.series INTO owner FROM kept k WHERE k.place = p_place AND k.value = v;
    IF FOUND THEN
      IF all_kept THEN front := (c->>0)::BIGINT + 1; END IF;
      IF owner <> p_series AND NOT EXISTS
          (SELECT 1 FROM skipped s WHERE s.series = p_series AND s.place = p_place AND s.value = v) THEN
        texts := texts || (c->>2);
        owners := owners || owner;
        INSERT INTO skipped VALUES (p_series, p_place, v);
      END IF;
      CONTINUE;
    END IF;
    all_kept := false;
    CONTINUE WHEN EXISTS (SELECT 1 FROM held x WHERE x.place = p_place AND x.value = v);
    h := gen_random_uuid()::TEXT;
    INSERT INTO held VALUES (p_place, v, p_series, c->>2, p_host, p_station, h, fernwick_now(),
                             now() + secs * INTERVAL '1 second');
    got := got + 1;
    idx := (c->>0)::BIGINT; value := v; serial := c->>2; hold := h; note := NULL;
    RETURN NEXT;
  END LOOP;
  note := CASE WHEN cardinality(texts) > 0 THEN fernwick_skip_text(texts, owners) END;
  IF got = 0 AND p_last THEN
    RAISE EXCEPTION USING MESSAGE = 'the serial numbers of ' || p_series || ' are used up' ||
      coalesce('; ' || note, '');
  END IF;
  IF note IS NOT NULL AND got > 0 THEN
    INSERT INTO notes(time, host, note) VALUES (fernwick_now(), p_host, 'the series ' || p_series || ': ' || note);
  END IF;
  idx := NULL; value := NULL; serial := NULL; hold := NULL;
  RETURN NEXT;
END $$;

-- The station's holds live on while it renews them.
CREATE FUNCTION fernwick_renew(p_station TEXT) RETURNS INTEGER LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE n INTEGER; secs INTEGER;
BEGIN
  PERFORM pg_advisory_xact_lock(1180126279);
  PERFORM fernwick_sweep();
  SELECT l.value::INTEGER INTO secs FROM fernwick_ledger l WHERE key = 'reservation_seconds';
  UPDATE held SET expires = now() + secs * INTERVAL '1 second' WHERE station = p_station;
  GET DIAGNOSTICS n = ROW_COUNT;
  RETURN n;
END $$;

-- Numbers held and not used go back, kept ones stay kept.
CREATE FUNCTION fernwick_settle(p_station TEXT, p_holds TEXT[], p_kept BOOLEAN) RETURNS INTEGER
  LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE n INTEGER;
BEGIN
  PERFORM pg_advisory_xact_lock(1180126279);
  IF p_kept THEN
    INSERT INTO kept SELECT place, value, series, NULL FROM held WHERE station = p_station AND hold = ANY(p_holds);
  END IF;
  DELETE FROM held WHERE station = p_station AND hold = ANY(p_holds);
  GET DIAGNOSTICS n = ROW_COUNT;
  RETURN n;
END $$;

-- A board's row, once whatever the retries: an attempt already recorded is
-- not written again. With a hold, the number is settled with it: kept for
-- good when the board passed, else given back. 'gone' when this database
-- is not the ledger the station opened; 'released' when a number a sweep
-- had kept went back.
CREATE FUNCTION fernwick_record(p_ledger TEXT, p_row JSONB, p_hold TEXT, p_passed BOOLEAN) RETURNS TEXT
  LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE b BIGINT; r TEXT; h held;
BEGIN
  IF NOT EXISTS (SELECT 1 FROM fernwick_ledger WHERE key = 'id' AND value = p_ledger) THEN RETURN 'gone'; END IF;
  PERFORM pg_advisory_xact_lock(1180126279);
  SELECT id, result INTO b, r FROM boards WHERE attempt = p_row->>'attempt';
  IF FOUND AND r <> 'unknown' THEN RETURN 'already'; END IF;
  IF FOUND THEN
    UPDATE boards SET (time, host, fixture, port, adapter_serial, hex_file, hex_sha256, serial, result, step,
                       sector, block, received, attempts, seconds, version, product, job_sha256, operator, lot,
                       station) =
      (SELECT time, host, fixture, port, adapter_serial, hex_file, hex_sha256, x.serial, result, step, sector,
              block, received, attempts, seconds, version, product, job_sha256, operator, lot, station
         FROM jsonb_populate_record(NULL::boards, p_row) x)
      WHERE id = b;
    -- A board that did not pass gives its number back, as it would have in
    -- time; 'released' tells its station, whose numbers had gone past it.
    IF NOT p_passed THEN
      DELETE FROM kept WHERE board = b;
      RETURN 'released';
    END IF;
    RETURN 'recorded';
  END IF;
  IF p_hold IS NOT NULL THEN
    SELECT * INTO h FROM held WHERE hold = p_hold;
    IF NOT FOUND THEN
      RAISE EXCEPTION USING MESSAGE = 'serial number ' || coalesce(p_row->>'serial', '') ||
        ' is not held by this station';
    END IF;
    DELETE FROM held WHERE hold = p_hold;
  END IF;
  INSERT INTO boards(time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result, step,
                     sector, block, received, attempts, seconds, version, product, job_sha256, operator, lot,
                     station, attempt)
    SELECT time, host, fixture, port, adapter_serial, hex_file, hex_sha256, coalesce(h.series, x.series),
           CASE WHEN p_passed THEN coalesce(h.serial, x.serial) END, result, step, sector, block, received,
           attempts, seconds, version, product, job_sha256, operator, lot, station, attempt
      FROM jsonb_populate_record(NULL::boards, p_row) x
    RETURNING id INTO b;
  IF p_hold IS NOT NULL AND p_passed THEN INSERT INTO kept VALUES (h.place, h.value, h.series, b); END IF;
  RETURN 'recorded';
END $$;

-- A list given from under a series' name: a note when its values changed.
CREATE FUNCTION fernwick_list_seen(p_series TEXT, p_host TEXT, p_name TEXT, p_digest TEXT, p_count BIGINT)
  RETURNS TEXT LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE l lists; n TEXT := NULL;
BEGIN
  PERFORM pg_advisory_xact_lock(1180126279);
  SELECT * INTO l FROM lists WHERE series = p_series;
  IF FOUND AND l.digest <> p_digest THEN
    n := 'the serial list ' || p_name || ' changed since this ledger last gave from it (' || p_count ||
         ' values now, ' || l.count || ' then): its values are given from the top, each unless a board keeps it';
    INSERT INTO notes(time, host, note) VALUES (fernwick_now(), p_host, n);
  END IF;
  INSERT INTO lists VALUES (p_series, p_digest, p_count)
    ON CONFLICT (series) DO UPDATE SET digest = EXCLUDED.digest, count = EXCLUDED.count;
  RETURN n;
END $$;
)SQL";

// The names a ledger takes in its schema: a database holding any of them of
// its own is not made a ledger.
const char* const k_names =
    "'fernwick_ledger', 'boards', 'kept', 'held', 'skipped', 'lists', 'notes', 'fernwick_now', 'fernwick_listed', "
    "'fernwick_skip_text', 'fernwick_sweep', 'fernwick_take', 'fernwick_renew', 'fernwick_settle', "
    "'fernwick_record', 'fernwick_list_seen'";

}  // namespace fernwick::station::server_schema
