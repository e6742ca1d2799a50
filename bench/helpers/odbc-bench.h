/* What the plain C benchmark programs share: the clock, a failed ODBC call that ends the program
 * with its diagnostics, and the connection named by BENCH_ODBC_CONNECT (it holds a password).
 * Each program sets benchProgram to its name first. */
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const char* benchProgram = "bench";

static double clockSeconds(clockid_t id)
{
    struct timespec t;
    clock_gettime(id, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void fail(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    SQLCHAR state[6];
    SQLCHAR text[1024];
    SQLINTEGER native;
    SQLSMALLINT length;
    fprintf(stderr, "%s: %s failed\n", benchProgram, what);
    for (SQLSMALLINT i = 1;
         handle != SQL_NULL_HANDLE &&
         SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS;
         ++i)
        fprintf(stderr, "  [%s] %s\n", (char*)state, (char*)text);
    exit(1);
}

/* Connects to BENCH_ODBC_CONNECT; exits with code 2 when it is not set, 1 when connecting fails. */
static void benchConnect(SQLHENV* env, SQLHDBC* dbc)
{
    const char* connect = getenv("BENCH_ODBC_CONNECT");
    if (connect == NULL || *connect == '\0') {
        fprintf(stderr, "%s: BENCH_ODBC_CONNECT is not set\n", benchProgram);
        exit(2);
    }
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env)))
        fail(SQL_HANDLE_ENV, SQL_NULL_HANDLE, "SQLAllocHandle");
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)))
        fail(SQL_HANDLE_ENV, *env, "SQLSetEnvAttr");
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, *env, dbc)))
        fail(SQL_HANDLE_ENV, *env, "SQLAllocHandle");
    if (!SQL_SUCCEEDED(SQLDriverConnect(*dbc, NULL, (SQLCHAR*)connect, SQL_NTS, NULL, 0, NULL,
                                        SQL_DRIVER_NOPROMPT)))
        fail(SQL_HANDLE_DBC, *dbc, "SQLDriverConnect");
}
