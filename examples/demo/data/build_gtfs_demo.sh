#!/bin/sh
# Rebuilds the GTFS-Realtime demo data under examples/demo/root: the feed file,
# the static timetable and the feed's rows in the attribute database (other
# feeds' rows in VORN.db are kept). Run from the repository root.
set -eu
root=examples/demo/root
grep -v '^#' examples/demo/data/gtfs_rt_demo.textproto |
    protoc --encode=transit_realtime.FeedMessage -I proto proto/gtfs_realtime.proto > "$root/vorn/media/gtfs_rt/feed.pb"

rm -f "$root/vorn/database/GTFS_S.db"
sqlite3 "$root/vorn/database/GTFS_S.db" <<'SQL'
create table stop_time (trip_id text, arrival_time text, departure_time text, stop_id text, stop_sequence integer);
insert into stop_time values
  ('DEMO-T1', '10:00:00', '10:00:30', 'S1', 1),
  ('DEMO-T1', '10:06:00', '10:06:30', 'S2', 2),
  ('DEMO-T1', '10:12:00', '10:12:30', 'S3', 3),
  ('DEMO-T1', '10:20:00', '10:21:00', 'S4', 4);
SQL

sqlite3 "$root/vorn/database/VORN.db" <<'SQL'
create table if not exists attributes (id text, symbol text, value text);
delete from attributes where symbol in ('GTFS_Stop_Id', 'GTFS_Vehicle_Id') or (symbol = 'Id' and id = 'VEH-0001');
insert into attributes values
  ('VEH-0001', 'Id', 'demo-vehicle-0001'),
  ('VEH-0001', 'GTFS_Vehicle_Id', 'BUS-7'),
  ('PT-1001', 'GTFS_Stop_Id', 'S1'),
  ('PT-1002', 'GTFS_Stop_Id', 'S2'),
  ('PT-1003', 'GTFS_Stop_Id', 'S3'),
  ('PT-1004', 'GTFS_Stop_Id', 'S4');
SQL
