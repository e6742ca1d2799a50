// A second client, not FreeTDS: tedious against bin/sqlsim. Usage:
//   node client.js PORT PASSWORD plain|forced|remote|russian BACKUP_FOLDER
// Exits non-zero with the reason on the first thing that goes wrong.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const { Connection, Request, TYPES } = require('tedious');

const [port, password, serverKind, backupFolder] = process.argv.slice(2);

// language: the one LOGIN7 asks for; tedious's own default is us_english.
function connect(encrypt, { userName = 'sa', loginPassword = password, language } = {}) {
  const connection = new Connection({
    server: '127.0.0.1',
    authentication: { type: 'default', options: { userName, password: loginPassword } },
    options: {
      port: Number(port),
      encrypt,
      trustServerCertificate: true, // the simulator's certificate is self-signed
      serverName: 'localhost', // a name for TLS, which takes no address
      connectTimeout: 30000,
      requestTimeout: 120000,
      ...(language === undefined ? {} : { language }),
    },
  });
  // Every server message, tagged with the request it arrived during.
  connection.messages = [];
  connection.current = null;
  connection.on('infoMessage', (m) => connection.messages.push({ request: connection.current, number: m.number, text: m.message }));
  connection.on('errorMessage', (m) => connection.messages.push({ request: connection.current, number: m.number, text: m.message }));
  return new Promise((resolve, reject) => {
    connection.once('connect', (error) => (error ? reject(error) : resolve(connection)));
    connection.connect();
  });
}

// Runs one request; resolves with its rows (arrays of values) once tedious says it is complete.
function run(connection, tag, sql, params = []) {
  return new Promise((resolve, reject) => {
    const rows = [];
    connection.current = tag;
    const request = new Request(sql, (error) => {
      connection.current = null;
      if (error) reject(new Error(`${tag}: ${error.message}`));
      else resolve(rows);
    });
    for (const [name, type, value] of params) request.addParameter(name, type, value);
    request.on('columnMetadata', (columns) => {
      connection.lastColumns = (Array.isArray(columns) ? columns : Object.values(columns)).map((c) => c.colName);
    });
    request.on('row', (columns) => rows.push(columns.map((c) => c.value)));
    if (params.length > 0) connection.execSql(request); // sp_executesql by RPC
    else connection.execSqlBatch(request);
  });
}

// The TDS type tedious read for each column of a query, with its scale or length.
function columnTypes(connection, tag, sql) {
  return new Promise((resolve, reject) => {
    let types = [];
    const request = new Request(sql, (error) => (error ? reject(new Error(`${tag}: ${error.message}`)) : resolve(types)));
    request.on('columnMetadata', (columns) => {
      types = (Array.isArray(columns) ? columns : Object.values(columns))
        .map((c) => [c.type.name, c.scale ?? c.dataLength].filter((v) => v !== undefined).join(' '));
    });
    connection.execSqlBatch(request);
  });
}

function close(connection) {
  return new Promise((resolve) => {
    connection.once('end', resolve);
    connection.close();
  });
}

async function batchAndParameters(connection, label) {
  const rows = await run(connection, `${label} batch`, "SELECT 1 AS one, N'Привет' AS greeting");
  assert.deepEqual(rows, [[1, 'Привет']], `${label}: the batch's row`);
  const long = 'ж'.repeat(20000);
  const answer = await run(connection, `${label} parameters`, 'SELECT @n + 1 AS n, @s AS s', [
    ['n', TYPES.Int, 41],
    ['s', TYPES.NVarChar, long],
  ]);
  assert.deepEqual(answer, [[42, long]], `${label}: the parameterised query's row`);
}

// One row of each date and time type, which tedious decodes from its own TDS type (as UTC
// dates, the fraction past the millisecond in nanosecondsDelta); then the same types sent as
// RPC parameters come back as they went and compare as their types.
async function dateAndTimeTypes(connection) {
  const [[d, t, t0, d2, dto, dto7, dt, sd]] = await run(connection, 'dates',
    "SELECT CAST('2024-02-05' AS date), CAST('10:15:00.123' AS time(3)), " +
    "CAST('12:00:00.5' AS time(0)), CAST('2024-02-05 10:15:00.1234567' AS datetime2(7)), " +
    "CAST('2024-02-05 10:15:00 +03:00' AS datetimeoffset(0)), " +
    "CAST('2024-02-05 23:00:00.1234567 -05:30' AS datetimeoffset(7)), " +
    "CAST('2024-02-05 10:15:00.003' AS datetime), CAST('2024-02-05 10:15:29.999' AS smalldatetime)");
  assert.equal(d.toISOString(), '2024-02-05T00:00:00.000Z', 'date');
  assert.equal(t.toISOString(), '1970-01-01T10:15:00.123Z', 'time(3)');
  assert.equal(t0.toISOString(), '1970-01-01T12:00:01.000Z', 'time(0), rounded half up');
  assert.equal(d2.toISOString(), '2024-02-05T10:15:00.123Z', 'datetime2(7)');
  assert.equal(Math.round(d2.nanosecondsDelta * 1e7), 4567, 'datetime2(7) past the millisecond');
  assert.equal(dto.toISOString(), '2024-02-05T07:15:00.000Z', 'datetimeoffset(0): its UTC instant');
  assert.equal(dto7.toISOString(), '2024-02-06T04:30:00.123Z', 'datetimeoffset(7) west of UTC');
  assert.equal(Math.round(dto7.nanosecondsDelta * 1e7), 4567, 'datetimeoffset(7) past the millisecond');
  assert.equal(dt.toISOString(), '2024-02-05T10:15:00.003Z', 'datetime');
  assert.equal(sd.toISOString(), '2024-02-05T10:16:00.000Z', 'smalldatetime, to the minute');
  const types = await columnTypes(connection, 'date types',
    "SELECT CAST('2024-02-05' AS date) AS d, CAST('10:15' AS time(3)) AS t, " +
    "SYSDATETIME() AS d2, SYSDATETIMEOFFSET() AS dto, GETDATE() AS dt, " +
    "CAST('2024-02-05' AS smalldatetime) AS sd");
  // DATENTYPE; TIMENTYPE, DATETIME2NTYPE, DATETIMEOFFSETNTYPE with their scale; DATETIMN of 8
  // bytes for datetime and of 4 for smalldatetime.
  assert.deepEqual(types, ['Date', 'Time 3', 'DateTime2 7', 'DateTimeOffset 7', 'DateTimeN 8',
    'DateTimeN 4'], 'the types of date columns');
  const sent = new Date('2024-02-05T10:15:00.123Z');
  const [echo] = await run(connection, 'date parameters', 'SELECT @d, @t, @d2, @dto', [
    ['d', TYPES.Date, sent],
    ['t', TYPES.Time, sent],
    ['d2', TYPES.DateTime2, sent],
    ['dto', TYPES.DateTimeOffset, sent],
  ]);
  assert.deepEqual(echo.map((v) => v.toISOString()),
    ['2024-02-05T00:00:00.000Z', '1970-01-01T10:15:00.123Z', sent.toISOString(), sent.toISOString()],
    'date and time parameters');
  // Typed parameters compare as their types: 100 ns past the parameter's millisecond is later.
  const [[later]] = await run(connection, 'date comparison',
    "SELECT CASE WHEN CAST('2024-02-05 10:15:00.1230001' AS datetime2) > @d2 " +
    "AND CAST('10:15:00.1229999' AS time) < @t THEN 1 ELSE 0 END", [
      ['d2', TYPES.DateTime2, sent],
      ['t', TYPES.Time, sent],
    ]);
  assert.equal(later, 1, 'datetime2 and time against typed parameters');
}

// BACKUP or RESTORE WITH STATS: every 3211 step must arrive within the request that caused it,
// and the request must end (not be taken as over at the first step).
async function withProgress(connection, tag, sql, done = '100 percent processed.') {
  connection.messages = [];
  await run(connection, tag, sql);
  const steps = connection.messages.filter((m) => m.number === 3211);
  assert.ok(steps.length >= 2, `${tag}: progress messages: ${JSON.stringify(connection.messages)}`);
  for (const m of steps) assert.equal(m.request, tag, `${tag}: "${m.text}" arrived outside the request`);
  assert.ok(steps.some((m) => m.text === done), `${tag}: no "${done}"`);
  await run(connection, `${tag} then`, 'SELECT 1');
  const late = connection.messages.filter((m) => m.request !== tag);
  assert.deepEqual(late, [], `${tag}: messages after the request ended`);
}

async function plainServer() {
  // encrypt false: the client says it cannot encrypt, and logs in in clear text.
  const clear = await connect(false);
  await batchAndParameters(clear, 'clear');
  await dateAndTimeTypes(clear);
  await run(clear, 'create', 'CREATE DATABASE wiredb');
  await run(clear, 'table', 'CREATE TABLE wiredb.dbo.t (id INT, v VARBINARY(MAX))');
  await run(clear, 'insert', 'INSERT INTO wiredb.dbo.t VALUES (@id, @v)', [
    ['id', TYPES.Int, 7],
    ['v', TYPES.VarBinary, Buffer.alloc(400 * 1024, 0x5a)],
  ]);
  const file = path.join(backupFolder, 'wiredb.bak');
  await withProgress(clear, 'backup', `BACKUP DATABASE wiredb TO DISK = N'${file}' WITH STATS = 10`);
  await run(clear, 'change', 'DELETE FROM wiredb.dbo.t');
  await close(clear);

  // encrypt true: ENCRYPT_ON, and the whole connection in TLS.
  const secure = await connect(true);
  await batchAndParameters(secure, 'encrypted');
  await withProgress(secure, 'restore', `RESTORE DATABASE wiredb FROM DISK = N'${file}' WITH REPLACE, STATS = 10`);
  let rows = await run(secure, 'restored', 'SELECT id, DATALENGTH(v) FROM wiredb.dbo.t');
  assert.deepEqual(rows, [[7, 400 * 1024]], 'the restored row');

  // RESTORE VERIFYONLY: its progress, then 3262.
  await withProgress(secure, 'verify', `RESTORE VERIFYONLY FROM DISK = N'${file}' WITH STATS = 50`);
  assert.ok(secure.messages.some((m) => m.number === 3262 && m.text === 'The backup set on file 1 is valid.'),
    `verify: ${JSON.stringify(secure.messages)}`);

  // Another session in the database: listed with its program, then ended by SINGLE_USER WITH
  // ROLLBACK IMMEDIATE, which closes its connection.
  const other = await connect(false);
  other.on('error', () => {}); // the server ends it below
  await run(other, 'enter', 'USE wiredb');
  const [[spid]] = await run(other, 'spid', 'SELECT @@SPID');
  const listed = await run(secure, 'sysprocesses',
    `SELECT RTRIM(program_name), DB_NAME(dbid) FROM master.dbo.sysprocesses WHERE spid = ${spid}`);
  assert.deepEqual(listed, [['Tedious', 'wiredb']], 'the other session in sysprocesses');
  const ended = new Promise((resolve) => other.once('end', resolve));
  await run(secure, 'single', 'ALTER DATABASE wiredb SET SINGLE_USER WITH ROLLBACK IMMEDIATE');
  await ended;
  rows = await run(secure, 'access', "SELECT user_access_desc FROM sys.databases WHERE name = 'wiredb'");
  assert.deepEqual(rows, [['SINGLE_USER']], 'single-user');
  await run(secure, 'multi', 'ALTER DATABASE wiredb SET MULTI_USER');

  // The program's restore batch: OFFLINE closes the sessions, the restore brings it back online.
  await withProgress(secure, 'offline restore', 'ALTER DATABASE wiredb SET OFFLINE WITH ROLLBACK ' +
    `IMMEDIATE; RESTORE DATABASE wiredb FROM DISK = N'${file}' WITH REPLACE, STATS = 10`);
  rows = await run(secure, 'state', "SELECT state_desc FROM sys.databases WHERE name = 'wiredb'");
  assert.deepEqual(rows, [['ONLINE']], 'online after the restore');
  await close(secure);
}

async function forcedServer() {
  const secure = await connect(true);
  await batchAndParameters(secure, 'forced');
  await close(secure);
  // A client that cannot encrypt gets no login.
  await assert.rejects(connect(false), 'a client without encryption logged in to a forced server');
}

// A Windows server on another machine (--server-root with drives C: and D:): what the program asks
// of its disks, read by a client that is not FreeTDS.
async function remoteServer() {
  const c = await connect(false);
  let rows = await run(c, 'fileexist', "EXEC master.dbo.xp_fileexist N'C:\\Program Files'");
  assert.deepEqual(c.lastColumns, ['File Exists', 'File is a Directory', 'Parent Directory Exists']);
  assert.deepEqual(rows, [[0, 1, 1]], 'xp_fileexist of a folder');
  await run(c, 'create_subdir', "EXEC master.dbo.xp_create_subdir N'D:\\Wire\\Deep'");
  rows = await run(c, 'dirtree', "EXEC master.dbo.xp_dirtree N'D:\\', 1, 1");
  assert.deepEqual(c.lastColumns, ['subdirectory', 'depth', 'file']);
  assert.deepEqual(rows, [['Wire', 1, 0]], 'xp_dirtree of D:\\');
  rows = await run(c, 'fixeddrives', 'EXEC master.dbo.xp_fixeddrives');
  assert.deepEqual(c.lastColumns, ['drive', 'MB free']);
  assert.deepEqual(rows.map((r) => r[0]), ['C', 'D'], 'the drives');
  assert.ok(rows.every((r) => Number.isInteger(r[1]) && r[1] >= 0), `free megabytes: ${JSON.stringify(rows)}`);
  rows = await run(c, 'paths', "SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(260)), " +
    "CAST(SERVERPROPERTY('InstanceDefaultBackupPath') AS nvarchar(260))");
  const instance = 'C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\';
  assert.deepEqual(rows, [[instance + 'DATA\\', instance + 'Backup\\']], 'the default folders');
  rows = await run(c, 'service', "SELECT service_account FROM sys.dm_server_services WHERE servicename LIKE N'SQL Server (%'");
  assert.deepEqual(rows, [['NT Service\\MSSQLSERVER']], 'the service account');
  await assert.rejects(run(c, 'no drive', "EXEC master.dbo.xp_create_subdir N'Q:\\X'"), /returned error 3/);
  await run(c, 'create', 'CREATE DATABASE wiredb');
  await withProgress(c, 'backup', "BACKUP DATABASE wiredb TO DISK = N'D:\\Wire\\Deep\\wiredb.bak' WITH STATS = 10");
  rows = await run(c, 'exists', "EXEC master.dbo.xp_fileexist N'd:\\wire\\deep\\WIREDB.BAK'");
  assert.deepEqual(rows, [[1, 0, 1]], 'the backup on the server');
  await close(c);

  // A login outside sysadmin (run-tedious.sh declares it): refused with SQL Server's own error.
  const viewer = await connect(false, { userName: 'viewer', loginPassword: 'Wire-View1' });
  await assert.rejects(run(viewer, 'refused', "BACKUP DATABASE wiredb TO DISK = N'D:\\Wire\\v.bak'"));
  const refusal = viewer.messages.find((m) => m.number === 262);
  assert.equal(refusal && refusal.text, "BACKUP DATABASE permission denied in database 'wiredb'.",
    `the refusal: ${JSON.stringify(viewer.messages)}`);
  rows = await run(viewer, 'fileexist', "EXEC master.dbo.xp_fileexist N'd:\\wire\\deep\\WIREDB.BAK'");
  assert.deepEqual(rows, [[0, 0, 0]], 'xp_fileexist outside sysadmin');
  await close(viewer);
}

// A server installed in Russian (--default-language russian), a session asking for Russian:
// the progress and the end of a backup in its words, on the wire as any client reads them.
async function russianServer() {
  const c = await connect(false, { language: 'Russian' });
  const [[language]] = await run(c, 'language', 'SELECT @@LANGUAGE');
  assert.equal(language, 'русский');
  await run(c, 'create', 'CREATE DATABASE wiredb');
  const file = path.join(backupFolder, 'wiredb.bak');
  await withProgress(c, 'backup', `BACKUP DATABASE wiredb TO DISK = N'${file}' WITH STATS = 10`,
    'Обработано процентов: 100.');
  assert.ok(c.messages.some((m) => m.number === 3014 && m.text.startsWith('BACKUP DATABASE успешно обработал ')),
    `backup: ${JSON.stringify(c.messages)}`);
  await close(c);
}

const servers = { plain: plainServer, forced: forcedServer, remote: remoteServer, russian: russianServer };
servers[serverKind]().then(
  () => console.log(`tedious against the ${serverKind} server: ok`),
  (error) => {
    console.error(`tedious against the ${serverKind} server: ${error.stack || error}`);
    process.exit(1);
  },
);
