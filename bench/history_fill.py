#!/usr/bin/env python3
# A history database as 30 days of 128 variables and 288 points leave its intervals
# (5-minute min, max and last), for the page's drawing measure.
#   bench/history_fill.py HOST_DIR
import os, random, sqlite3, sys, time
random.seed(20261209)
now = int(time.time()*1000)
os.makedirs(sys.argv[1], exist_ok=True)
db = sqlite3.connect(os.path.join(sys.argv[1], 'history.sqlite'))
db.execute('PRAGMA auto_vacuum=INCREMENTAL')
db.execute('PRAGMA journal_mode=WAL')
db.executescript('''
CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
  kind INTEGER NOT NULL, first INTEGER, last INTEGER, n INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS raw(s INTEGER NOT NULL, t INTEGER NOT NULL, v REAL, x TEXT,
  PRIMARY KEY(s, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS folded(s INTEGER NOT NULL, t INTEGER NOT NULL, lo REAL, hi REAL, last REAL,
  n INTEGER NOT NULL, PRIMARY KEY(s, t)) WITHOUT ROWID;
PRAGMA user_version=1;
''')
ids = ['var:%d' % v for v in range(128)] + ['unit:%d:point:%d' % (p//16+2, p%16) for p in range(288)]
start = (now - 30*86400000)//300000*300000
for i, k in enumerate(ids, 1):
    kind = 0 if k.startswith('var:') else 1
    db.execute('INSERT INTO series(id,key,name,kind,first,last,n) VALUES(?,?,?,?,?,?,0)', (i, k, k, kind, start, now))
rows = []
for i, k in enumerate(ids, 1):
    hi = 999.0 if k.startswith('var:') else 1.0
    for t in range(start, now, 300000):
        v = random.random()*hi if hi > 1 else float(random.random() < 0.5)
        rows.append((i, t, 0.0, hi, v, 300))
db.executemany('INSERT INTO folded VALUES(?,?,?,?,?,?)', rows)
db.commit()
