/* The comparison for dbsetup's storing of application files: the same statements over plain
 * unixODBC and the FreeTDS driver. Drops and creates the table, then runs one INSERT per file with
 * the file bound as SQL_LONGVARBINARY, fed at execution time in 64 KiB pieces.
 *
 *     store-files-odbc FOLDER LIST TABLE VERSION
 *
 * The ODBC connection string comes in BENCH_ODBC_CONNECT (it holds a password). LIST names the
 * files to store, one path relative to FOLDER a line, "/" between components. Prints one line
 * "FILES BYTES SECONDS" where SECONDS covers drop, create and the inserts, not the connect. */
#define _GNU_SOURCE
#include "odbc-bench.h"

#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum
{
    chunkSize = 64 * 1024
};

static SQLHENV env;
static SQLHDBC dbc;

static void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA && rc != SQL_NEED_DATA)
        fail(type, handle, what);
}

/* Runs a statement without parameters; with mayFail its error is ignored. */
static void run(const char* sql, int mayFail)
{
    SQLHSTMT stmt;
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
    const SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
    if (!mayFail)
        check(rc, SQL_HANDLE_STMT, stmt, sql);
    while (SQL_SUCCEEDED(SQLMoreResults(stmt))) {
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

/* The relative path as the program stores it: "\" between components, then '"', "'" and "\"
 * doubled. */
static void storedPath(const char* relative, char* out, size_t size)
{
    size_t n = 0;
    for (const char* c = relative; *c != '\0' && n + 3 < size; ++c) {
        const char ch = *c == '/' ? '\\' : *c;
        if (ch == '"' || ch == '\'' || ch == '\\')
            out[n++] = ch;
        out[n++] = ch;
    }
    out[n] = '\0';
}

/* One INSERT with the file fed at execution time; returns the bytes sent. */
static long long insertFile(const char* table, const char* version, const char* folder,
                            const char* relative, char* buffer)
{
    char path[4096];
    char stored[1024];
    char sql[2048];
    storedPath(relative, stored, sizeof stored);
    if (snprintf(path, sizeof path, "%s/%s", folder, relative) >= (int)sizeof path ||
        snprintf(sql, sizeof sql, "INSERT INTO %s (path, version, file_data) VALUES ('%s','%s',?)",
                 table, stored, version) >= (int)sizeof sql) {
        fprintf(stderr, "store-files-odbc: path too long: %s\n", relative);
        exit(1);
    }
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        perror(path);
        exit(1);
    }
    fseeko(file, 0, SEEK_END);
    const off_t size = ftello(file);
    fseeko(file, 0, SEEK_SET);

    SQLHSTMT stmt;
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
    SQLLEN indicator = SQL_LEN_DATA_AT_EXEC((SQLLEN)size);
    check(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                           (SQLULEN)(size > 0 ? size : 1), 0, (SQLPOINTER)1, 0, &indicator),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
    check(rc, SQL_HANDLE_STMT, stmt, "SQLExecDirect");
    long long sent = 0;
    if (rc == SQL_NEED_DATA) {
        SQLPOINTER which;
        rc = SQLParamData(stmt, &which);
        check(rc, SQL_HANDLE_STMT, stmt, "SQLParamData");
        while (rc == SQL_NEED_DATA) {
            size_t got;
            int any = 0;
            while ((got = fread(buffer, 1, chunkSize, file)) > 0) {
                check(SQLPutData(stmt, buffer, (SQLLEN)got), SQL_HANDLE_STMT, stmt, "SQLPutData");
                sent += (long long)got;
                any = 1;
            }
            if (!any) /* an empty file is an empty value, not NULL */
                check(SQLPutData(stmt, buffer, 0), SQL_HANDLE_STMT, stmt, "SQLPutData");
            rc = SQLParamData(stmt, &which);
            check(rc, SQL_HANDLE_STMT, stmt, "SQLParamData");
        }
    }
    if (ferror(file)) {
        perror(path);
        exit(1);
    }
    fclose(file);
    while (SQL_SUCCEEDED(SQLMoreResults(stmt))) {
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return sent;
}

int main(int argc, char** argv)
{
    benchProgram = "store-files-odbc";
    if (argc != 5) {
        fprintf(stderr, "usage: store-files-odbc FOLDER LIST TABLE VERSION\n");
        return 2;
    }
    const char* folder = argv[1];
    const char* table = argv[3];
    const char* version = argv[4];
    FILE* list = fopen(argv[2], "r");
    if (list == NULL) {
        perror(argv[2]);
        return 1;
    }

    benchConnect(&env, &dbc);

    char* buffer = malloc(chunkSize);
    char sql[512];
    const double start = clockSeconds(CLOCK_MONOTONIC);
    snprintf(sql, sizeof sql, "drop  table %s", table);
    run(sql, 1);
    snprintf(sql, sizeof sql,
             "create table %s (path char(255) not null, version int null, file_data IMAGE NULL)",
             table);
    run(sql, 0);
    long long files = 0;
    long long bytes = 0;
    char line[4096];
    while (fgets(line, sizeof line, list) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        bytes += insertFile(table, version, folder, line, buffer);
        ++files;
    }
    const double end = clockSeconds(CLOCK_MONOTONIC);
    fclose(list);
    free(buffer);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    printf("%lld %lld %.3f\n", files, bytes, end - start);
    return 0;
}
