// A second client, not FreeTDS: tedious against bin/sqlsim. Usage:
//   node client.js PORT PASSWORD plain|forced|remote BACKUP_FOLDER
// Exits non-zero with the reason on the first thing that goes wrong.
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const { Connection, Request, TYPES } = require('tedious');

const [port, password, serverKind, backupFolder] = process.argv.slice(2);

function connect(encrypt, userName = 'sa', loginPassword = password) {
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

// BACKUP or RESTORE WITH STATS: every 3211 step must arrive within the request that caused it,
// and the request must end (not be taken as over at the first step).
async function withProgress(connection, tag, sql) {
  connection.messages = [];
  await run(connection, tag, sql);
  const steps = connection.messages.filter((m) => m.number === 3211);
  assert.ok(steps.length >= 2, `${tag}: progress messages: ${JSON.stringify(connection.messages)}`);
  for (const m of steps) assert.equal(m.request, tag, `${tag}: "${m.text}" arrived outside the request`);
  assert.ok(steps.some((m) => m.text === '100 percent processed.'), `${tag}: no "100 percent processed."`);
  await run(connection, `${tag} then`, 'SELECT 1');
  const late = connection.messages.filter((m) => m.request !== tag);
  assert.deepEqual(late, [], `${tag}: messages after the request ended`);
}

async function plainServer() {
  // encrypt false: the client says it cannot encrypt, and logs in in clear text.
  const clear = await connect(false);
  await batchAndParameters(clear, 'clear');
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
  const viewer = await connect(false, 'viewer', 'Wire-View1');
  await assert.rejects(run(viewer, 'refused', "BACKUP DATABASE wiredb TO DISK = N'D:\\Wire\\v.bak'"));
  const refusal = viewer.messages.find((m) => m.number === 262);
  assert.equal(refusal && refusal.text, "BACKUP DATABASE permission denied in database 'wiredb'.",
    `the refusal: ${JSON.stringify(viewer.messages)}`);
  rows = await run(viewer, 'fileexist', "EXEC master.dbo.xp_fileexist N'd:\\wire\\deep\\WIREDB.BAK'");
  assert.deepEqual(rows, [[0, 0, 0]], 'xp_fileexist outside sysadmin');
  await close(viewer);
}

const servers = { plain: plainServer, forced: forcedServer, remote: remoteServer };
servers[serverKind]().then(
  () => console.log(`tedious against the ${serverKind} server: ok`),
  (error) => {
    console.error(`tedious against the ${serverKind} server: ${error.stack || error}`);
    process.exit(1);
  },
);
