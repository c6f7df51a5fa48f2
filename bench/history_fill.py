#!/usr/bin/env python3
# A history database as 30 days of 128 variables and 288 points leave its intervals
# (5-minute min, max and last), for the page's drawing measure.
#   bench/history_fill.py HOST_DIR
# The database is made by varnel itself (bench/history_page.sh runs it once), so the schema
# is the store's own; this only adds rows.
import os, random, sqlite3, sys, time
random.seed(20261209)
now = int(time.time()*1000)
db = sqlite3.connect(os.path.join(sys.argv[1], 'history.sqlite'))
if db.execute('PRAGMA user_version').fetchone()[0] != 1:
    sys.exit('history_fill.py: %s holds no history database of version 1' % sys.argv[1])
ids = ['var:%d' % v for v in range(128)] + ['unit:%d:point:%d' % (p//16+2, p%16) for p in range(288)]
start = (now - 30*86400000)//300000*300000
for k in ids:
    kind = 0 if k.startswith('var:') else 1
    db.execute('INSERT OR IGNORE INTO series(key,name,kind,first,last,n) VALUES(?,?,?,?,?,0)', (k, k, kind, start, now))
sid = dict(db.execute('SELECT key, id FROM series'))
ids = [(sid[k], k) for k in ids]
rows = []
for i, k in ids:
    hi = 999.0 if k.startswith('var:') else 1.0
    for t in range(start, now, 300000):
        v = random.random()*hi if hi > 1 else float(random.random() < 0.5)
        rows.append((i, t, 0.0, hi, v, 300))
db.executemany('INSERT OR REPLACE INTO folded VALUES(?,?,?,?,?,?)', rows)
db.commit()
