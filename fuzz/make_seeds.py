#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/ (the fixtures' copies are taken as they are).
Run from anywhere; files are rewritten in place."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode('utf-8')
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def utf16(text, bom=True):
    return (b'\xff\xfe' if bom else b'') + text.encode('utf-16-le')


def raw16(text):
    """The fuzz::text form that carries UTF-16 units as they are."""
    return b'\xff' + text.encode('utf-16-le', 'surrogatepass')


SETTINGS = """; settings of the demo
[db]
server=127.0.0.1,14330
user_name=sa
password=Demo-Pass1
is_authorization=0
;file_udl=%install_dir%default.udl

[other]
install_dir=/srv/app/
db_file_name=%appdir%app/Data/ostrel_ts.mdf
max_size_file_add_db=10485760
db_name_file_add=ostrel_ts
appr_name_path_name=%install_dir%ostrel.exe
"""

# settings.ini
put('inifile', 'demo-settings.ini', SETTINGS)
put('inifile', 'demo-utf16.ini', utf16(SETTINGS.replace('\n', '\r\n')))
put('inifile', 'edge-cases.ini',
    '[DB]\r\nSERVER = "quoted value"\r\nserver=second\r\n  user_name=\'x\'\r\nkey before=\r\n'
    '[ db ]\r\nempty=\r\n=novalue\r\n[unclosed\r\nnot a pair\r\n[other]\r\nlong=' + 'x' * 2100 +
    '\r\n')
put('inifile', 'cp1251.ini', '[db]\npassword=\u041f\u0430\u0440\u043e\u043b\u044c\n'.encode('cp1251'))
put('inifile', 'surrogates.ini', utf16('[db]\r\nserver=\U0001F600' + 'y' * 2046 + '\U0001F600\r\n'))

# UDL files
UDL = ('[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n'
       'Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=Demo-Pass1;'
       'Initial Catalog=ostrel_ts;Data Source=SERVER\\SQLEXPRESS\r\n')
put('udl', 'default.udl', utf16(UDL))
put('udl', 'utf8.udl', UDL)
put('udl', 'integrated.udl', utf16(
    '[oledb]\r\nProvider=SQLNCLI11.1;Integrated Security=SSPI;Persist Security Info=False;'
    'User ID=OFFICE\\ivanov;Initial Catalog=sklad;Data Source=(local)\r\n'))
put('udl', 'no-user.udl', utf16('[oledb]\r\nProvider=MSOLEDBSQL;Data Source=.\r\n'))

# connection strings
put('connectstring', 'full.txt',
    'Provider=SQLOLEDB.1;Password=Demo-Pass1;Persist Security Info=True;User ID=sa;'
    'Initial Catalog=ostrel_ts;Data Source=127.0.0.1,14330')
put('connectstring', 'sspi.txt', 'Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;User ID=x')
put('connectstring', 'odd.txt', ' user id = sa ;DATA SOURCE=srv;password=a=b;;=x;provider=;user id=')
put('connectstring', 'utf16.txt', raw16('User ID=\u0441\u0430;Data Source=\ud800srv\x00;'))

# ADO strings; lines: server, user, password, driver
put('odbcstring', 'ado.txt', 'Data Source=127.0.0.1,14330;User ID=sa;Password=Demo-Pass1')
put('odbcstring', 'quoted.txt',
    'Data Source="srv\\inst";User ID=\'o\'\'brien\';Password="a;b}c";Integrated Security=no')
put('odbcstring', 'lines.txt', 'host\\SQLEXPRESS\nsa\n p;w}{d \nFreeTDS')
put('odbcstring', 'braces.txt', 'tcp:srv,1433\nuser}}\n{x}};y}\n/usr/lib/libtdsodbc.so')
put('odbcstring', 'manager.txt', '.\nsa\na} ;DSN=other;x=\n')
put('odbcstring', 'sspi.txt', 'Server=(local);Trusted_Connection=Yes;UID=OFFICE\\ivanov;PWD=x')

# dbs.xml
XML = ('<?xml version="1.0" encoding="UTF-8"?>\n<databases>\n'
       + ''.join('    <database name="%s" path_mdf="%%appdir%%app/Data/%s.mdf" '
                 'default_mdf="/srv/app/Data/%s.mdf" path_ldf="%%appdir%%app/Data/%s_log.ldf" '
                 'default_ldf="/srv/app/Data/%s_log.ldf"/>\n' % ((n,) * 5)
                 for n in ('ostrel_ts', 'ostrel_ts_2023', 'ostrel_ts_test', 'sklad'))
       + '</databases>\n')
put('dblist', 'dbs.xml', XML)
put('dblist', 'windows-1251.xml',
    '<?xml version="1.0" encoding="windows-1251"?>\r\n<r><db name="\u0431\u0430\u0437\u0430" '
    'path_mdf="D:\\Data\\b.mdf"/><!-- c --><db/></r>\r\n'.encode('cp1251'))
put('dblist', 'entities.xml',
    '<!DOCTYPE r [<!ENTITY a "&#9;x&amp;">]>\n<r>text<db name="&a;" path_ldf="&lt;"/><?pi x?>'
    '<![CDATA[z]]></r><!-- after -->')
put('dblist', 'broken.xml', '<r><db name="x">')

# .reg
put('registry', 'edge.reg',
    'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n'
    '"Path"="C:\\\\x\\"y\\\\"\r\n@="default"\r\n"Exp"=hex(2):25,00,74,00,6d,00,70,00,25,00,\\\r\n'
    '  00,00\r\n"D"=dword:0000ffff\r\n"B"=hex:01,02\r\n"Del"=-\r\n[-HKEY_LOCAL_MACHINE\\Software\\A\\B]\r\n'
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\r\n'
    '"AppData"="/home/u/AppData"\r\n[hklm\\bad]\r\n[HKEY_USERS\\\\x]\r\n')
put('registry', 'regedit4.reg',
    'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n"T"=hex(1):c0,e1,00\r\n')

# PE images with a version resource, after the unit test's layout
def le16(v):
    return struct.pack('<H', v & 0xFFFF)


def le32(v):
    return struct.pack('<I', v & 0xFFFFFFFF)


def pad(b, n):
    return b + b'\0' * ((-len(b)) % n)


def utf16z(s):
    return s.encode('utf-16-le') + b'\0\0'


def block(key, typ, value, value_length, children=()):
    b = pad(b'\0' * 6 + utf16z(key), 4) + value
    for c in children:
        b = pad(b, 4) + c
    return le16(len(b)) + le16(value_length) + le16(typ) + b[6:]


def version_resource(strings, translation=0x04B00419, table='041904B0'):
    fixed = le32(0xFEEF04BD) + le32(0x00010000) + b'\0' * 44
    sblocks = [block(k, 1, utf16z(v), len(v) + 1) for k, v in strings]
    sfi = block('StringFileInfo', 1, b'', 0, [block(table, 1, b'', 0, sblocks)])
    var = block('VarFileInfo', 1, b'', 0, [block('Translation', 0, le32(translation), 4)])
    return block('VS_VERSION_INFO', 0, fixed, 52, [sfi, var])


def directory(entries):
    b = b'\0' * 12 + le16(0) + le16(len(entries))
    for i, t in entries:
        b += le32(i) + le32(t)
    return b


def pe_image(version, pe64=False):
    sub = 0x80000000
    rsrc = directory([(3, sub | 0x20), (16, sub | 0x30)]) + directory([]) + \
        directory([(1, sub | 0x48)]) + directory([(0x419, 0x60)])
    assert len(rsrc) == 0x60
    rsrc += le32(0x3000 + 0x70) + le32(len(version)) + le32(0) + le32(0) + version
    size = len(rsrc)
    rsrc = pad(rsrc, 0x200)
    img = bytearray(0x80)
    img[0:2] = b'MZ'
    img[0x3C:0x40] = le32(0x80)
    opt_size = 240 if pe64 else 224
    img += b'PE\0\0' + le16(0x8664 if pe64 else 0x14C) + le16(2) + le32(0) * 3 + le16(opt_size) + le16(0x2102)
    opt = bytearray(opt_size)
    opt[0:2] = le16(0x20B if pe64 else 0x10B)
    dirs = 112 if pe64 else 96
    opt[dirs - 4:dirs] = le32(16)
    opt[dirs + 16:dirs + 20] = le32(0x3000)
    opt[dirs + 20:dirs + 24] = le32(size)
    img += opt
    for name, vsize, rva, raw, off in ((b'.text', 0x10, 0x1000, 0x200, 0x400),
                                        (b'.rsrc', size, 0x3000, len(rsrc), 0x600)):
        img += name.ljust(8, b'\0') + le32(vsize) + le32(rva) + le32(raw) + le32(off) + b'\0' * 16
    img = img.ljust(0x400, b'\0') + b'\xcc' * 0x200 + rsrc
    return bytes(img)


put('peversion', 'pe32.exe', pe_image(version_resource(
    [('CompanyName', '\u041a\u043e\u043c\u043f\u0430\u043d\u0438\u044f'), ('FileVersion', '7.5.2.0'),
     ('ProductVersion', '7.5')])))
put('peversion', 'pe64.dll', pe_image(version_resource([('FileVersion', '1.0')]), pe64=True))
put('peversion', 'other-table.exe', pe_image(version_resource(
    [('FileVersion', '2.0')], translation=0x04E40409, table='040904E4')))
put('peversion', 'not-pe.bin', b'MZ' + b'\0' * 62)

# masks: first line the mask, then names
put('filemask', 'star.txt', '*.bak\nostrel_ts.bak\nOSTREL.BAK\nnote.txt')
put('filemask', 'sets.txt', '[a-z0-9_]?[!0-9]*.*\nb1x.txt\n9zz\n')
put('filemask', 'invalid.txt', '[z-a]\nx')
put('filemask', 'unclosed.txt', 'a[bc\nab')
put('filemask', 'stars.txt', '*a*a*a*a*a*a*a*b\n' + 'a' * 200)
put('filemask', 'unicode.txt', raw16('[\u0430-\u044f]*\ud83d\ude00?\n\u0411\u0430\u0437\u0430\ud83d\ude00x\n\udc00'))

# paths with macros
put('pathmacros', 'macros.txt', '%appdir%app\\Data\\..\\Data/ostrel_ts.mdf')
put('pathmacros', 'registry.txt', '%registry:HKEY_LOCAL_MACHINE\\Software\\Test\\Path%bin\\..\\x.exe')
put('pathmacros', 'registry-macro.txt', '%registry:HKEY_LOCAL_MACHINE\\Software\\Test\\Macro%%registry:HKLM\\x%')
put('pathmacros', 'nontext.txt', '%registry:HKEY_LOCAL_MACHINE\\Software\\Test\\Count%')
put('pathmacros', 'all.txt', '%tmp%%programfiles%%programfilesx86%%mydocuments%%appdata%%md5_path_program%\\..\\..\\..\\..\\..\\..')
put('pathmacros', 'replace.txt', 'ab\na\naaab\n2')
put('pathmacros', 'up.txt', '%registry:HKEY_LOCAL_MACHINE\\Software\\Test\\Up%')

# command lines, one argument a line
put('commandline', 'backup.txt', '-backup_db\n/db_name:ostrel_ts\n/file:/srv/backup/ostrel_ts.bak\n/not_add_file\n/not_show_form')
put('commandline', 'restore.txt', '-RESTORE_DB\n/DB_NAME:copy\n/file:D:\\b.bak\n/path_db:/srv/data\n/restore_file\n/not_replace_db\n/connection_string:Data Source=.;User ID=sa;Password=a:b')
put('commandline', 'odd.txt', '-backup_db\n/file\n/file:\n:x\n/install_dir:%appdir%\n/file_udl:a.udl\n/show_form\n/add_file')

# backup file names
put('backupfilename', 'unc.txt', '\\\\server\\\\share\\\\\\backup.bak')
put('backupfilename', 'mixed.txt', raw16('D:\\\\\u0431\u044d\u043a\u0430\u043f\\\\\ud800\\x.bak'))


# TDS client streams
def packet(typ, payload, size=4096):
    out = b''
    room = size - 8
    chunks = [payload[i:i + room] for i in range(0, len(payload), room)] or [b'']
    for n, chunk in enumerate(chunks):
        last = n == len(chunks) - 1
        out += bytes([typ, 1 if last else 0]) + struct.pack('>H', len(chunk) + 8) + b'\0\0' + bytes([n + 1, 0]) + chunk
    return out


def prelogin():
    opts = [(0, b'\x0f\x00\x07\xd0\x00\x00'), (1, b'\x02'), (2, b'\x00'), (3, b'\0\0\0\0'), (4, b'\x00')]
    table = b''
    data = b''
    start = 5 * len(opts) + 1
    for tok, d in opts:
        table += bytes([tok]) + struct.pack('>HH', start + len(data), len(d))
        data += d
    return table + b'\xff' + data


def obfuscate(pw):
    out = bytearray()
    for b in pw.encode('utf-16-le'):
        b = ((b << 4) | (b >> 4)) & 0xFF
        out.append(b ^ 0xA5)
    return bytes(out)


def login7(user, password, database, version=0x74000004, sspi=b'', flags2=0x03):
    strings = [('host', 'workstation'), ('user', user), ('password', password), ('app', 'dbsetup'),
               ('server', '127.0.0.1'), ('ext', ''), ('lib', 'ODBC'), ('lang', 'us_english'),
               ('db', database)]
    offset = 94
    fields = b''
    data = b''
    for name, text in strings:
        raw = obfuscate(text) if name == 'password' else text.encode('utf-16-le')
        if name == 'ext':
            fields += le16(0) + le16(0)
            continue
        fields += le16(offset + len(data)) + le16(len(text))
        data += raw
    fields += b'\x00\x50\x56\x00\x00\x01'
    fields += le16(offset + len(data)) + le16(len(sspi))
    data += sspi
    fields += le16(0) + le16(0) + le16(0) + le16(0) + le32(0)
    fixed = le32(version) + le32(4096) + le32(7) + le32(1234) + le32(0) + bytes([0xE0, flags2, 0, 0]) + le32(0) + le32(0x409)
    body = fixed + fields
    assert len(body) + 4 == 94, len(body)
    total = 4 + len(body) + len(data)
    return le32(total) + body + data


ALL_HEADERS = le32(22) + le32(18) + le16(2) + b'\0' * 8 + le32(1)


def batch(sql):
    return ALL_HEADERS + sql.encode('utf-16-le')


def param(name, status, typeinfo_and_value):
    n = name.encode('utf-16-le')
    return bytes([len(name)]) + n + bytes([status]) + typeinfo_and_value


COLL = b'\x19\x04\xd0\x00\x00'


def nvarchar(text, maxlen=4000):
    d = text.encode('utf-16-le')
    return b'\xe7' + le16(maxlen * 2) + COLL + le16(len(d)) + d


def ntext(text):
    d = text.encode('utf-16-le')
    return b'\x63' + le32(0x7FFFFFFF) + COLL + le32(len(d)) + d


def plp_varbinary(data):
    return b'\xa5' + le16(0xFFFF) + struct.pack('<Q', len(data)) + le32(len(data)) + data + le32(0)


def rpc_executesql():
    body = ALL_HEADERS + le16(0xFFFF) + le16(10) + le16(0)
    body += param('', 0, ntext('insert into t values (@P1, @P2, @P3, @P4, @P5, @P6)'))
    body += param('', 0, ntext('@P1 INT,@P2 NVARCHAR(50),@P3 VARBINARY(MAX),@P4 DATETIME2,@P5 DECIMAL(10,2),@P6 FLOAT'))
    body += param('', 0, b'\x26\x04\x04' + le32(42))
    body += param('', 0, nvarchar('\u0421\u0435\u0432\u0435\u0440'))
    body += param('', 0, plp_varbinary(b'\x00\x01\x02' * 20))
    body += param('', 0, b'\x2a\x07\x08' + b'\x80\x96\x98\x00\x00' + b'\x2b\x40\x0b')
    body += param('', 0, b'\x6a\x05\x0a\x02\x05\x01' + le32(12550))
    body += param('', 0, b'\x6d\x08\x08' + struct.pack('<d', 2.5))
    return body


def rpc_named():
    body = ALL_HEADERS + le16(len('sp_addlogin')) + 'sp_addlogin'.encode('utf-16-le') + le16(0)
    body += param('@loginame', 0, nvarchar('ivanov'))
    body += param('@passwd', 0, nvarchar('secret'))
    body += param('@out', 1, b'\x26\x08\x00')
    body += b'\xff' + le16(0xFFFF) + le16(13) + le16(0)
    body += param('@handle', 1, b'\x26\x04\x00')
    body += param('', 0, b'\x3d' + le32(45000) + le32(300 * 3600))
    body += param('', 0, b'\x24\x10\x10' + bytes(range(16)))
    body += param('', 0, b'\x68\x01\x01\x01')
    body += param('', 0, b'\x6e\x08\x08' + le32(0) + le32(123450))
    body += param('', 0, b'\xa7' + le16(8000) + COLL + le16(3) + b'\xc0\xe1\xe2')
    body += param('', 0, b'\x28\x03' + b'\x01\x02\x03')
    body += param('', 0, b'\x29\x07\x05' + b'\x01\x02\x03\x04\x05')
    body += param('', 0, b'\x1f')
    return body


def transaction(request):
    return ALL_HEADERS + le16(request) + (b'\x00\x01' if request in (7, 8) else b'')


start = packet(0x12, prelogin()) + packet(0x10, login7('sa', 'Demo-Pass1', 'ostrel_ts'))
put('tds', 'login-batch.bin', start + packet(0x01, batch('select * from orders')))
put('tds', 'rpc-executesql.bin', start + packet(0x03, rpc_executesql()))
put('tds', 'rpc-named.bin', start + packet(0x03, rpc_named()))
put('tds', 'transactions.bin', start + packet(0x0E, transaction(5)) + packet(0x0E, transaction(7)) +
    packet(0x0E, transaction(8)) + packet(0x06, b''))
put('tds', 'split-batch.bin', start + packet(0x01, batch('select 1 -- ' + 'x' * 3000), size=512))
put('tds', 'tds71-login.bin', packet(0x10, login7('sa', 'p', '', version=0x71000001)) +
    packet(0x03, le16(0xFFFF) + le16(10) + le16(0) + param('', 0, nvarchar('select 1')) + b'\x80'))
ntlm_negotiate = b'NTLMSSP\0' + le32(1) + le32(0xE2088297) + b'\0' * 16
ntlm_auth = (b'NTLMSSP\0' + le32(3) + le16(24) + le16(24) + le32(64) + le16(24) + le16(24) + le32(88) +
             le16(12) + le16(12) + le32(112) + le16(12) + le16(12) + le32(124) + le16(4) + le16(4) +
             le32(136) + le16(0) + le16(0) + le32(140) + le32(0xE2088297) + b'\0' * 0 +
             b'\x01' * 24 + b'\x02' * 24 + 'OFFICE'.encode('utf-16-le') + 'ivanov'.encode('utf-16-le') +
             'WS'.encode('utf-16-le'))
put('tds', 'integrated.bin', packet(0x12, prelogin()) +
    packet(0x10, login7('', '', '', sspi=ntlm_negotiate, flags2=0x83)) + packet(0x11, ntlm_auth))
put('tds', 'cancelled.bin', start + bytes([0x01, 0x00]) + struct.pack('>H', 20) + b'\0\0\1\0' + b'x' * 12 +
    bytes([0x01, 0x03, 0, 8, 0, 0, 2, 0]) + packet(0x06, b''))
