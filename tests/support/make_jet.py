#!/usr/bin/env python3
# Usage: python3 make_jet.py OUT.mdb [OPTIONS]   # writes a Jet 4 .mdb with table QZProgram (stdlib only)
"""Minimal Jet 4 (.mdb) writer, made to build test fixtures.

Options:
  --rows ROWS        the rows: a JSON list of [key, name, parameter, time, count], null for NULL,
                      in a file or given as the argument itself
  --memo              the parameter is a Memo column, with one long value on an LVAL page
  --long-memo         the parameter is a Memo column, with one value spread over several pages
  --nonbmp            adds a row with characters outside the Basic Multilingual Plane
  --schema COLUMNS   the table's columns instead: a JSON list of [name, type], type one of
                      long int byte double single text memo datetime bool; the rows then have
                      one value per column
  --table NAME        the table's name instead of QZProgram
  --no-key            no primary key (keys may then repeat or be NULL)
  --jet3              marks the file as Jet 3 in its header (the rest stays Jet 4)
  --damage PART       overwrites a part after writing it: usage-map, catalog,
                      table-definition, data (the table's data pages)
  --print-rows        prints the table's rows as JSON instead of the summary line

Writes: database definition page (page 0, RC4-obfuscated header as Jet does),
global usage map, one usage-map page, and for every table a TDEF page, data
pages and (for long memo values) LVAL pages.  Tables: MSysObjects (catalog,
always TDEF page 2), empty MSysACEs / MSysQueries / MSysRelationships, and the
user table QZProgram with a primary-key index (one leaf page) on its
autonumber column.  Texts are UCS-2, with Jet's "compressed unicode" form used
whenever it is legal and shorter (as Access does for Text/Memo columns with
Unicode Compression = Yes).

Limits (by design, a fixture writer, not a database engine): 4 KiB pages,
fewer than 512 pages in all (inline usage maps only), every TDEF on one page,
index keys only on Long columns and all on one leaf page, memo values inline,
on one LVAL page, or as a chain of LVAL pages, no OLE values, no properties
(LvProp NULL), no relationships, no password/encryption.
"""
import struct
import sys
import datetime

PG = 4096

# ---- column types (Jet) ----
T_BOOL, T_BYTE, T_INT, T_LONG, T_MONEY, T_FLOAT, T_DOUBLE, T_DATETIME = 1, 2, 3, 4, 5, 6, 7, 8
T_BINARY, T_TEXT, T_OLE, T_MEMO = 9, 0x0A, 0x0B, 0x0C
FIXED_LEN = {T_BOOL: 0, T_BYTE: 1, T_INT: 2, T_LONG: 4, T_MONEY: 8,
             T_FLOAT: 4, T_DOUBLE: 8, T_DATETIME: 8}
LONG_VALUE = (T_OLE, T_MEMO)

MAGIC_TABLE = 1625   # constant seen in real TDEFs (column/index "unknown" field)
MAGIC_INDEX = 1923


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(out)


def ucs2(s):
    return s.encode('utf-16-le', 'surrogatepass')     # a lone surrogate stays, as Jet keeps it


def jet_text(s, compress=True):
    """Jet 4 text bytes: UCS-2LE, or 0xFF 0xFE + compressed form if legal and shorter."""
    raw = ucs2(s)
    if not compress or not raw:
        return raw
    out = bytearray(b'\xff\xfe')
    comp = True
    for i in range(0, len(raw), 2):
        lo, hi = raw[i], raw[i + 1]
        if lo == 0:            # 0x00 is the mode toggle: such a code unit cannot be stored
            return raw
        if hi == 0:
            if not comp:
                out.append(0)
                comp = True
            out.append(lo)
        else:
            if comp:
                out.append(0)
                comp = False
            out += bytes((lo, hi))
    return bytes(out) if len(out) < len(raw) else raw


def ole_date(dt):
    return (dt - datetime.datetime(1899, 12, 30)).total_seconds() / 86400.0


class Col:
    def __init__(self, name, typ, size=None, auto=False, compress=True):
        self.name, self.type, self.auto, self.compress = name, typ, auto, compress
        if typ in FIXED_LEN:
            self.size = FIXED_LEN[typ]
        elif typ == T_TEXT:
            self.size = 2 * (size or 255)        # stored in bytes
        elif typ == T_BINARY:
            self.size = size or 255
        else:
            self.size = 0                        # memo / ole
        self.fixed = typ in FIXED_LEN


class Table:
    def __init__(self, name, cols, rows=(), system=False, pk=None, flags=0):
        self.name, self.cols, self.rows = name, cols, list(rows)
        self.system, self.pk, self.flags = system, pk, flags
        # column layout
        off = 0
        for n, c in enumerate(cols):
            c.num = n
            if c.fixed:
                c.fixed_off = off
                off += c.size
        self.fixed_len = off
        var = [c for c in cols if not c.fixed and c.type not in LONG_VALUE] + \
              [c for c in cols if c.type in LONG_VALUE]
        for v, c in enumerate(var):
            c.var_num = v
        for c in cols:
            if c.fixed:
                c.var_num = 0
        self.var_cols = var


class Writer:
    def __init__(self):
        self.pages = {}
        self.npages = 0

    def alloc(self):
        n = self.npages
        self.npages += 1
        self.pages[n] = None
        return n

    def put(self, n, data):
        assert len(data) == PG, (n, len(data))
        self.pages[n] = bytes(data)


def data_page(tdef_pg, rows, lval=False):
    """A Jet 4 data page (type 0x01) holding the given row byte strings."""
    p = bytearray(PG)
    p[0], p[1] = 0x01, 0x01
    if lval:
        p[4:8] = b'LVAL'
    else:
        struct.pack_into('<I', p, 4, tdef_pg)
    struct.pack_into('<H', p, 12, len(rows))
    end = PG
    for i, r in enumerate(rows):
        start = end - len(r)
        p[start:end] = r
        struct.pack_into('<H', p, 14 + 2 * i, start)
        end = start
    free = end - (14 + 2 * len(rows))
    assert free >= 0, 'page overflow'
    struct.pack_into('<H', p, 2, free)
    return p


def row_space(rows):
    return sum(len(r) + 2 for r in rows)


def usage_map(pages, start=0, invert_from=None):
    bm = bytearray(64)
    for pg in pages:
        i = pg - start
        assert 0 <= i < 512, 'more than 512 pages needs a type-1 usage map'
        bm[i // 8] |= 1 << (i % 8)
    if invert_from is not None:        # global map: 1 = free page
        for i in range(invert_from - start, 512):
            bm[i // 8] |= 1 << (i % 8)
    return b'\x00' + struct.pack('<I', start) + bytes(bm)


def encode_value(c, v, lval_sink):
    """Bytes for one non-NULL value of column c."""
    t = c.type
    if t == T_BYTE:
        return struct.pack('<B', v)
    if t == T_INT:
        return struct.pack('<h', v)
    if t == T_LONG:
        return struct.pack('<i', v)
    if t == T_DOUBLE:
        return struct.pack('<d', v)
    if t == T_FLOAT:
        return struct.pack('<f', v)
    if t == T_DATETIME:
        return struct.pack('<d', ole_date(v) if isinstance(v, datetime.datetime) else v)
    if t == T_MONEY:
        return struct.pack('<q', int(round(v * 10000)))
    if t == T_BINARY:
        assert len(v) <= c.size
        return bytes(v)
    if t == T_TEXT:
        b = jet_text(v, c.compress)
        if len(b) > c.size:
            raise ValueError('text too long for %s (%d > %d bytes)' % (c.name, len(b), c.size))
        return b
    if t == T_MEMO:
        b = jet_text(v, c.compress and len(v) <= 1024)
        if len(b) <= 1024:                       # inline memo
            return struct.pack('<I', len(b) | 0x80000000) + b'\0' * 8 + b
        if len(b) + 2 <= PG - 14:
            pg_row = lval_sink(b)                # single LVAL page memo
            return struct.pack('<I', len(b) | 0x40000000) + struct.pack('<I', pg_row) + b'\0' * 4
        pg_row = lval_sink(b, chained=True)      # chain of LVAL pages
        return struct.pack('<I', len(b)) + struct.pack('<I', pg_row) + b'\0' * 4
    raise ValueError('unsupported type %r' % t)


def encode_row(tbl, values, lval_sink):
    cols = tbl.cols
    assert len(values) == len(cols)
    ncols = len(cols)
    fixed = bytearray(tbl.fixed_len)
    notnull = bytearray((ncols + 7) // 8)
    for c, v in zip(cols, values):
        if c.type == T_BOOL:
            if v:
                notnull[c.num // 8] |= 1 << (c.num % 8)
            continue
        if v is None:
            continue
        notnull[c.num // 8] |= 1 << (c.num % 8)
        if c.fixed:
            b = encode_value(c, v, lval_sink)
            fixed[c.fixed_off:c.fixed_off + len(b)] = b
    row = bytearray(struct.pack('<H', ncols)) + fixed
    if not tbl.var_cols:
        return bytes(row + notnull)
    offsets = []
    for c in tbl.var_cols:
        offsets.append(len(row))
        v = values[c.num]
        if v is not None:
            row += encode_value(c, v, lval_sink)
    row += struct.pack('<H', len(row))                  # eod
    for o in reversed(offsets):
        row += struct.pack('<H', o)
    row += struct.pack('<H', len(tbl.var_cols))
    row += notnull
    return bytes(row)


def index_leaf_page(tdef_pg, entries):
    """Leaf index page (type 0x04) for Long keys; entries = [(key, page, row)]."""
    p = bytearray(PG)
    p[0], p[1] = 0x04, 0x01
    struct.pack_into('<I', p, 4, tdef_pg)
    pos = 0x1E0
    total = 0
    for key, dpg, drow in sorted(entries):
        kb = bytearray(struct.pack('>i', key))
        kb[0] ^= 0x80                                   # flip sign bit: sortable
        e = b'\x7f' + bytes(kb) + struct.pack('>I', dpg)[1:] + bytes((drow,))
        p[pos:pos + len(e)] = e
        pos += len(e)
        total += len(e)
        p[0x1B + total // 8] |= 1 << (total % 8)        # mask bit marks end of entry
    assert pos <= PG
    struct.pack_into('<H', p, 2, PG - pos)
    return p


def build(tables, creation=datetime.datetime(2008, 1, 1, 12, 0, 0)):
    w = Writer()
    p_hdr = w.alloc()          # 0
    p_gmap = w.alloc()         # 1 global usage map
    # TDEF pages: MSysObjects first so that it lands on page 2
    for t in tables:
        t.tdef = w.alloc()
    assert tables[0].name == 'MSysObjects' and tables[0].tdef == 2
    p_umap = w.alloc()

    # catalog rows for MSysObjects (needs tdef page numbers)
    cat = tables[0]
    cat_rows = list(cat.rows)
    for t in tables:
        cat_rows.append([t.tdef, 0x0F000001, t.name, 1, creation, creation, None,
                         t.flags, None, None, None, None, None, None, None, None, None])
    cat.rows = cat_rows

    umap_rows = []
    for t in tables:
        # LVAL storage for this table: a shared page for values that fit one, a page of its own
        # for every link of a chain
        lv = {'pg': None, 'rows': [], 'chain': []}

        def lval_sink(b, chained=False, lv=lv):
            if chained:
                size = PG - 14 - 2 - 4
                chunks = [b[i:i + size] for i in range(0, len(b), size)]
                pages = [w.alloc() for _ in chunks]
                for n, (pg, chunk) in enumerate(zip(pages, chunks)):
                    after = (pages[n + 1] << 8) if n + 1 < len(pages) else 0
                    lv['chain'].append((pg, struct.pack('<I', after) + chunk))
                return pages[0] << 8
            if lv['pg'] is None:
                lv['pg'] = w.alloc()
            if row_space(lv['rows']) + len(b) + 2 > PG - 14:
                raise ValueError('LVAL page full (one shared LVAL page per table supported)')
            lv['rows'].append(b)
            return (lv['pg'] << 8) | (len(lv['rows']) - 1)

        # pack rows into data pages
        data_pages = []
        cur, locs = [], []
        for values in t.rows:
            r = encode_row(t, values, lval_sink)
            if cur and row_space(cur) + len(r) + 2 > PG - 14:
                data_pages.append(cur)
                cur = []
            cur.append(r)
            locs.append((len(data_pages), len(cur) - 1))
        if cur:
            data_pages.append(cur)
        dpg_nums = [w.alloc() for _ in data_pages]
        for n, rows in zip(dpg_nums, data_pages):
            w.put(n, data_page(t.tdef, rows))
        lval_all = []
        if lv['pg'] is not None:
            w.put(lv['pg'], data_page(0, lv['rows'], lval=True))
            lval_all = [lv['pg']]
        for pg, row in lv['chain']:
            w.put(pg, data_page(0, [row], lval=True))
            lval_all.append(pg)
        t.data_pages = dpg_nums
        t.row_locs = [(dpg_nums[a], b) for a, b in locs]

        # usage map rows: owned pages, free-space pages
        t.umap_used = (p_umap << 8) | len(umap_rows)
        umap_rows.append(usage_map(dpg_nums))
        t.umap_free = (p_umap << 8) | len(umap_rows)
        umap_rows.append(usage_map([n for n, rows in zip(dpg_nums, data_pages)
                                    if PG - 14 - row_space(rows) > 0]))
        # primary key index
        t.idx = None
        if t.pk is not None:
            kc = [c for c in t.cols if c.name == t.pk][0]
            leaf = w.alloc()
            entries = [(vals[kc.num], pg, rw) for vals, (pg, rw) in zip(t.rows, t.row_locs)]
            w.put(leaf, index_leaf_page(t.tdef, entries))
            t.idx = dict(col=kc.num, root=leaf, umap=(p_umap << 8) | len(umap_rows))
            umap_rows.append(usage_map([leaf]))
        # long value column usage maps
        t.lv_umaps = []
        for c in t.cols:
            if c.type in LONG_VALUE:
                u = (p_umap << 8) | len(umap_rows)
                umap_rows.append(usage_map(lval_all))
                f = (p_umap << 8) | len(umap_rows)
                umap_rows.append(usage_map(lval_all))
                t.lv_umaps.append((c.num, u, f))

    w.put(p_umap, data_page(0, umap_rows))
    for t in tables:
        w.put(t.tdef, tdef_page(t))

    # page 0: database definition page
    p0 = bytearray(PG)
    p0[0], p0[1] = 0x00, 0x01
    p0[4:20] = b'Standard Jet DB\0'
    p0[0x14] = 0x01                                      # Jet 4
    hdr = bytearray(128)                                 # plain text of 0x18..0x97
    struct.pack_into('<H', hdr, 0x3C - 0x18, 1252)       # code page
    struct.pack_into('<I', hdr, 0x3E - 0x18, 0)          # db key 0 = pages not encoded
    date = ole_date(creation)
    mask = struct.pack('<i', int(date)) * 10             # empty password, masked with date
    hdr[0x42 - 0x18:0x42 - 0x18 + 40] = mask
    struct.pack_into('<HBB', hdr, 0x6E - 0x18, 0x0409, 0, 0)  # sort order: General (legacy)
    struct.pack_into('<d', hdr, 0x72 - 0x18, date)       # creation date
    p0[0x18:0x98] = rc4(bytes((0xC7, 0xDA, 0x39, 0x6B)), bytes(hdr))
    w.put(p_hdr, p0)

    # page 1: global usage map (bit = free page); pages beyond EOF are free
    w.put(p_gmap, data_page(0, [usage_map([], 0, invert_from=w.npages), usage_map([])]))
    assert all(v is not None for v in w.pages.values())
    return b''.join(w.pages[i] for i in range(w.npages))


def tdef_page(t):
    cols = t.cols
    nidx = 1 if t.idx else 0
    b = bytearray(PG)
    b[0], b[1] = 0x02, 0x01
    body = bytearray()
    body += struct.pack('<I', 0)                     # tdef_len, patched below
    body += struct.pack('<I', MAGIC_TABLE)
    body += struct.pack('<I', len(t.rows))           # num rows
    auto = [c for c in cols if c.auto]
    last = max((r[auto[0].num] for r in t.rows if r[auto[0].num] is not None),
               default=0) if auto else 0
    body += struct.pack('<I', last)                  # last autonumber used
    body += bytes((1,)) + b'\0' * 15                 # autonum flag + unknown
    body += bytes((0x53 if t.system else 0x4E,))
    body += struct.pack('<HHH', len(cols), len(t.var_cols), len(cols))
    body += struct.pack('<II', nidx, nidx)
    body += struct.pack('<II', t.umap_used, t.umap_free)
    assert len(body) + 8 == 63
    for _ in range(nidx):                             # real index row counts
        body += struct.pack('<III', 0, len(t.rows), 0)
    for c in cols:
        e = bytearray(25)
        e[0] = c.type
        struct.pack_into('<I', e, 1, MAGIC_TABLE)
        struct.pack_into('<H', e, 5, c.num)
        struct.pack_into('<H', e, 7, 0 if c.fixed else c.var_num)
        struct.pack_into('<H', e, 9, c.num)
        if c.type in (T_TEXT, T_MEMO):
            struct.pack_into('<HBB', e, 11, 0x0409, 0, 0)   # sort order General
        flags = 0x02 | (0x01 if c.fixed else 0) | (0x04 if c.auto else 0)
        e[15] = flags
        e[16] = 0x01 if (c.type in (T_TEXT, T_MEMO) and c.compress) else 0
        struct.pack_into('<H', e, 21, c.fixed_off if c.fixed else 0)
        struct.pack_into('<H', e, 23, 0 if c.type in LONG_VALUE else c.size)
        body += e
    for c in cols:
        n = ucs2(c.name)
        body += struct.pack('<H', len(n)) + n
    if t.idx:
        # physical index: magic, 10 x (col, order), umap, first page, unknown, flags, 5 unknown
        body += struct.pack('<I', MAGIC_INDEX)
        body += struct.pack('<HB', t.idx['col'], 0x01)
        for _ in range(9):
            body += struct.pack('<HB', 0xFFFF, 0)
        body += struct.pack('<I', t.idx['umap'])
        body += struct.pack('<I', t.idx['root'])
        body += struct.pack('<I', 0)
        body += bytes((0x09,))                       # unique | required
        body += b'\0' * 5
        # logical index: magic, index num, index data num, rel tbl type, rel idx, rel tbl pg,
        # cascade ups, cascade dels, index type (1 = primary key), 4 unknown
        body += struct.pack('<IIIBiIBBB', MAGIC_TABLE, 0, 0, 0, -1, 0, 0, 0, 0x01)
        body += b'\0' * 4
        n = ucs2('PrimaryKey')
        body += struct.pack('<H', len(n)) + n
    for num, u, f in t.lv_umaps:
        body += struct.pack('<HII', num, u, f)
    body += b'\xff\xff'
    total = 8 + len(body)
    assert total <= PG, 'TDEF larger than one page'
    struct.pack_into('<I', body, 0, total)
    b[8:8 + len(body)] = body
    struct.pack_into('<H', b, 2, PG - total - 8)
    return b


def system_tables():
    objs = Table('MSysObjects', [
        Col('Id', T_LONG), Col('ParentId', T_LONG), Col('Name', T_TEXT, 255),
        Col('Type', T_INT), Col('DateCreate', T_DATETIME), Col('DateUpdate', T_DATETIME),
        Col('Owner', T_BINARY), Col('Flags', T_LONG), Col('Database', T_MEMO),
        Col('Connect', T_MEMO), Col('ForeignName', T_TEXT, 255), Col('RmtInfoShort', T_BINARY),
        Col('RmtInfoLong', T_OLE), Col('Lv', T_OLE), Col('LvProp', T_OLE),
        Col('LvModule', T_OLE), Col('LvExtra', T_OLE)], system=True, flags=-0x80000000)
    when = datetime.datetime(2008, 1, 1, 12, 0, 0)
    base = [None, None, None, None, when, when, None, -0x80000000] + [None] * 9
    for oid, parent, name, typ in [(0x0F000001, 0x0F000000, 'Tables', 3),
                                   (0x0F000002, 0x0F000000, 'Databases', 3),
                                   (0x0F000003, 0x0F000000, 'Relationships', 3),
                                   (0x10000000, 0x0F000002, 'MSysDb', 2)]:
        r = list(base)
        r[0:4] = [oid, parent, name, typ]
        objs.rows.append(r)
    aces = Table('MSysACEs', [Col('ObjectId', T_LONG), Col('SID', T_BINARY), Col('ACM', T_LONG),
                              Col('FInheritable', T_BOOL)], system=True, flags=-0x80000000)
    queries = Table('MSysQueries', [
        Col('ObjectId', T_LONG), Col('Attribute', T_BYTE), Col('Order', T_BINARY),
        Col('Name1', T_TEXT, 255), Col('Name2', T_TEXT, 255), Col('Expression', T_MEMO),
        Col('Flag', T_INT), Col('LvExtra', T_OLE)], system=True, flags=-0x80000000)
    rels = Table('MSysRelationships', [
        Col('szRelationship', T_TEXT, 255), Col('grbit', T_LONG), Col('ccolumn', T_LONG),
        Col('icolumn', T_LONG), Col('szObject', T_TEXT, 255), Col('szColumn', T_TEXT, 255),
        Col('szReferencedObject', T_TEXT, 255), Col('szReferencedColumn', T_TEXT, 255)],
        system=True, flags=-0x80000000)
    return [objs, aces, queries, rels]


LONG_TEXT = ('长参数：' + '任务调度测试ABC,' * 26)[:254] + '尾'   # exactly 255 chars (Text maximum)

SAMPLE_ROWS = [
    # ProgramIndex, ProgramName, ProgramParameter, ProgramTime, ProgramCount
    [1, '每日备份', '/d C:\\数据\\备份 --full', 830, 1],
    [2, 'Notepad', '', 0, 0],                               # empty (non-NULL) parameter
    [3, '第一个程序', None, 1200, 3],                        # NULL parameter; '一' is U+4E00
    [4, '清理临时文件', LONG_TEXT, 2359, 10],                # 255-character text
    [5, 'Mixed 中文 and "quotes", commas', "it's line1\r\nline2\ttab\\back", 45, -1],
    [7, 'Größe café', 'Latin-1 ÄÖÜ ß é', None, 2147483647],  # NULL time, max long, gap in keys
]


MEMO_TEXT = '备注' + '参数值 value; ' * 120          # 1322 chars (2644 bytes): stored on an LVAL page


LONG_MEMO_TEXT = '很长的参数' + '分页存放的备注 long value; ' * 400   # 8805 chars: three LVAL pages

TYPES = {'long': T_LONG, 'int': T_INT, 'byte': T_BYTE, 'double': T_DOUBLE, 'single': T_FLOAT,
         'text': T_TEXT, 'memo': T_MEMO, 'datetime': T_DATETIME, 'bool': T_BOOL}


def qzprogram(nonbmp=False, memo=False, rows=None, long_memo=False, schema=None,
              name='QZProgram', key=True):
    rows = [list(r) for r in (SAMPLE_ROWS if rows is None else rows)]
    if nonbmp:
        rows.append([8, 'Emoji 😀 𠀀', 'non-BMP 🎉', 1, 1])
    if memo:                       # ProgramParameter as Memo ("Long Text") + one long value
        rows.append([9, 'Memo row', MEMO_TEXT, 5, 5])
    if long_memo:
        rows.append([10, 'Long memo row', LONG_MEMO_TEXT, 6, 6])
    if schema is None:
        cols = [Col('ProgramIndex', T_LONG, auto=True),
                Col('ProgramName', T_TEXT, 255),
                Col('ProgramParameter', T_MEMO) if memo or long_memo
                else Col('ProgramParameter', T_TEXT, 255),
                Col('ProgramTime', T_LONG),
                Col('ProgramCount', T_LONG)]
    else:
        cols = [Col(n, TYPES[t], auto=n.lower() == 'programindex' and t == 'long')
                for n, t in schema]
    keys = [c.name for c in cols if c.auto]
    return Table(name, cols, rows=rows, pk=keys[0] if keys and key else None)


def damage(data, tables, part):
    """Overwrites one part of a written file, as a disk or a copy gone wrong would."""
    data = bytearray(data)
    table = tables[-1]
    pages = {'usage-map': [table.tdef + 1],          # the usage-map page follows the TDEFs
             'catalog': [tables[0].tdef],
             'table-definition': [table.tdef],
             'data': table.data_pages}[part]
    fill = 0x41 if part == 'usage-map' else 0x00
    for pg in pages:
        data[pg * PG:(pg + 1) * PG] = bytes((fill,)) * PG
    return bytes(data)


def main(argv):
    import json
    if len(argv) < 2 or argv[1] in ('-h', '--help'):
        sys.exit(__doc__)

    def value(option, default=None):
        return argv[argv.index(option) + 1] if option in argv else default

    def json_file(option):
        if option not in argv:
            return None
        if value(option).lstrip().startswith('['):
            return json.loads(value(option))
        with open(value(option), encoding='utf-8') as f:
            return json.load(f)

    table = qzprogram('--nonbmp' in argv, '--memo' in argv, json_file('--rows'),
                      '--long-memo' in argv, json_file('--schema'), value('--table', 'QZProgram'),
                      '--no-key' not in argv)
    tables = system_tables() + [table]
    data = build(tables)
    if '--jet3' in argv:
        data = data[:0x14] + b'\x00' + data[0x15:]
    if '--damage' in argv:
        data = damage(data, tables, value('--damage'))
    with open(argv[1], 'wb') as f:
        f.write(data)
    if '--print-rows' in argv:
        print(json.dumps(table.rows))
    else:
        print('%s: %d bytes, %d pages' % (argv[1], len(data), len(data) // PG))


if __name__ == '__main__':
    main(sys.argv)
