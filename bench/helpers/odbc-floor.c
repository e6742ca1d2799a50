/* The floor for reading a result over unixODBC and FreeTDS: runs one statement, reads its first
 * result to the end and throws the values away, then drains the further results. Nothing is
 * kept or formatted, so its time is what the driver and the wire cost at the least.
 *
 *     odbc-floor [OPTIONS] STATEMENT
 *
 *     --bind wchar|char|native  what every column is bound as (default wchar): SQL_C_WCHAR text,
 *                               SQL_C_CHAR text, or each column's own C type (integers as
 *                               SQL_C_SLONG/SBIGINT, datetimes as SQL_C_TYPE_TIMESTAMP, floats as
 *                               SQL_C_DOUBLE, binary as SQL_C_BINARY, the rest as SQL_C_WCHAR)
 *     --decimal char|numeric    with --bind native: decimals as SQL_C_CHAR (default) or
 *                               SQL_C_NUMERIC (FreeTDS 1.3.17 fills it with scale 0 whatever the
 *                               row descriptor says: the fraction is lost)
 *     --getdata                 no binding: one SQLFetch a row, one SQLGetData(SQL_C_WCHAR) a value
 *     --array N                 rows a block fetch (default 500)
 *     --row-wise, --column-wise the layout of the bound buffers (default column-wise)
 *     --dump FILE               writes every value read to FILE: an 8-byte length (-1 for NULL),
 *                               then the bytes, so that two ways of reading can be compared
 *
 * The ODBC connection string comes in BENCH_ODBC_CONNECT (it holds a password). Columns without
 * a bounded size (text, image, (max), over 8000 bytes) cannot be fetched in blocks: when the
 * result has one, rows are fetched one at a time, the columns before the first such column bound
 * and the rest read with SQLGetData. Prints "name value" lines: rows, seconds (execute and fetch,
 * wall), cpu_seconds (the process's processor time over the same span), array, warnings (fetches
 * that returned SQL_SUCCESS_WITH_INFO). Exits 1 with the ODBC diagnostics when a call fails. */
#define _GNU_SOURCE
#include "odbc-bench.h"

#include <sql.h>
#include <sqlext.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum
{
    longLimit = 8000,     /* bytes: above this a column is read with SQLGetData */
    pieceSize = 64 * 1024 /* SQLGetData buffer */
};

enum Bind
{
    bindWchar,
    bindChar,
    bindNative
};

struct Column
{
    SQLSMALLINT sqlType;
    SQLULEN size;
    SQLSMALLINT digits;
    SQLSMALLINT cType;
    SQLLEN width;   /* bytes of one value's buffer */
    size_t valueAt; /* row-wise: offset of the value in a row; column-wise: of the array */
    size_t indicatorAt;
    int isLong;
};

static SQLHENV env;
static SQLHDBC dbc;
static SQLHSTMT stmt;
static FILE* dump;

static void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc))
        fail(type, handle, what);
}

static void usage(void)
{
    fprintf(stderr,
            "usage: %s [--bind wchar|char|native] [--decimal char|numeric] [--getdata] "
            "[--array N] [--row-wise|--column-wise] [--dump FILE] STATEMENT\n",
            benchProgram);
    exit(2);
}

static void dumpValue(SQLLEN length, const void* bytes)
{
    if (dump == NULL)
        return;
    const int64_t n = length == SQL_NULL_DATA ? -1 : (int64_t)length;
    fwrite(&n, sizeof n, 1, dump);
    if (n > 0)
        fwrite(bytes, 1, (size_t)n, dump);
}

static int isText(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
           t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

static int isBinary(SQLSMALLINT t)
{
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

/* Characters the text of a value of this column can take, as the driver writes it. */
static SQLLEN textChars(SQLUSMALLINT number, const struct Column* c)
{
    SQLLEN display = 0;
    check(SQLColAttribute(stmt, number, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &display),
          SQL_HANDLE_STMT, stmt, "SQLColAttribute");
    SQLLEN chars = display > (SQLLEN)c->size ? display : (SQLLEN)c->size;
    if (isBinary(c->sqlType))
        chars = 2 * (SQLLEN)c->size;
    /* Room for a sign, a point and a fraction the declared size leaves out. */
    return chars + 8;
}

static void chooseType(SQLUSMALLINT number, struct Column* c, enum Bind bind, int decimalNumeric)
{
    const SQLSMALLINT t = c->sqlType;
    if (bind == bindNative) {
        switch (t) {
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIT:
            c->cType = SQL_C_SLONG;
            c->width = sizeof(SQLINTEGER);
            return;
        case SQL_BIGINT:
            c->cType = SQL_C_SBIGINT;
            c->width = sizeof(SQLBIGINT);
            return;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            c->cType = SQL_C_DOUBLE;
            c->width = sizeof(SQLDOUBLE);
            return;
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIMESTAMP:
            c->cType = SQL_C_TYPE_TIMESTAMP;
            c->width = sizeof(SQL_TIMESTAMP_STRUCT);
            return;
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            if (decimalNumeric) {
                c->cType = SQL_C_NUMERIC;
                c->width = sizeof(SQL_NUMERIC_STRUCT);
            } else {
                c->cType = SQL_C_CHAR;
                c->width = textChars(number, c) + 1;
            }
            return;
        default:
            if (isBinary(t)) {
                c->cType = SQL_C_BINARY;
                c->width = (SQLLEN)c->size;
                return;
            }
            break;
        }
    }
    if (bind == bindChar) {
        /* UTF-8 on the client: up to four bytes a character. */
        c->cType = SQL_C_CHAR;
        c->width = 4 * textChars(number, c) + 1;
    } else {
        c->cType = SQL_C_WCHAR;
        c->width = 2 * (textChars(number, c) + 1);
    }
}

/* Reads one value of an unbounded column in pieces. */
static void readLong(SQLUSMALLINT number, SQLSMALLINT cType, char* piece, char** whole,
                     size_t* wholeSize)
{
    size_t total = 0;
    int isNull = 0;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, number, cType, piece, pieceSize, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
        if (indicator == SQL_NULL_DATA) {
            isNull = 1;
            break;
        }
        /* A full buffer less the terminator the driver adds to text. */
        const size_t terminator =
            cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : (cType == SQL_C_CHAR ? 1 : 0);
        size_t got = pieceSize - terminator;
        if (rc == SQL_SUCCESS && indicator != SQL_NO_TOTAL && (size_t)indicator < got)
            got = (size_t)indicator;
        if (dump != NULL) {
            if (total + got > *wholeSize) {
                *wholeSize = 2 * (total + got);
                *whole = realloc(*whole, *wholeSize);
                if (*whole == NULL) {
                    perror(benchProgram);
                    exit(1);
                }
            }
            memcpy(*whole + total, piece, got);
        }
        total += got;
        if (rc == SQL_SUCCESS)
            break;
    }
    dumpValue(isNull ? SQL_NULL_DATA : (SQLLEN)total, *whole);
}

int main(int argc, char** argv)
{
    benchProgram = "odbc-floor";
    enum Bind bind = bindWchar;
    int getData = 0, rowWise = 0, decimalNumeric = 0;
    long arraySize = 500;
    const char* dumpPath = NULL;
    const char* sql = NULL;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--bind") == 0 && i + 1 < argc) {
            const char* v = argv[++i];
            if (strcmp(v, "wchar") == 0)
                bind = bindWchar;
            else if (strcmp(v, "char") == 0)
                bind = bindChar;
            else if (strcmp(v, "native") == 0)
                bind = bindNative;
            else
                usage();
        } else if (strcmp(a, "--decimal") == 0 && i + 1 < argc) {
            const char* v = argv[++i];
            if (strcmp(v, "char") != 0 && strcmp(v, "numeric") != 0)
                usage();
            decimalNumeric = strcmp(v, "numeric") == 0;
        } else if (strcmp(a, "--getdata") == 0) {
            getData = 1;
        } else if (strcmp(a, "--array") == 0 && i + 1 < argc) {
            char* end;
            arraySize = strtol(argv[++i], &end, 10);
            if (*end != '\0' || arraySize < 1 || arraySize > 1000000)
                usage();
        } else if (strcmp(a, "--row-wise") == 0) {
            rowWise = 1;
        } else if (strcmp(a, "--column-wise") == 0) {
            rowWise = 0;
        } else if (strcmp(a, "--dump") == 0 && i + 1 < argc) {
            dumpPath = argv[++i];
        } else if (a[0] == '-' || sql != NULL) {
            usage();
        } else {
            sql = a;
        }
    }
    if (sql == NULL)
        usage();
    if (dumpPath != NULL && (dump = fopen(dumpPath, "wb")) == NULL) {
        perror(dumpPath);
        return 1;
    }

    benchConnect(&env, &dbc);
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");

    const double wallStart = clockSeconds(CLOCK_MONOTONIC);
    const double cpuStart = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
    if (rc != SQL_NO_DATA)
        check(rc, SQL_HANDLE_STMT, stmt, "SQLExecDirect");
    SQLSMALLINT count = 0;
    check(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");

    struct Column* columns = calloc(count > 0 ? (size_t)count : 1, sizeof *columns);
    char* piece = malloc(pieceSize);
    char* whole = NULL;
    size_t wholeSize = 0;
    if (columns == NULL || piece == NULL) {
        perror(benchProgram);
        return 1;
    }
    SQLSMALLINT firstLong = count; /* columns from here on are read with SQLGetData */
    for (SQLSMALLINT i = 0; i < count; ++i) {
        struct Column* c = &columns[i];
        SQLCHAR name[256];
        SQLSMALLINT nameLength, nullable;
        check(SQLDescribeCol(stmt, (SQLUSMALLINT)(i + 1), name, sizeof name, &nameLength,
                             &c->sqlType, &c->size, &c->digits, &nullable),
              SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        c->isLong =
            c->sqlType == SQL_LONGVARCHAR || c->sqlType == SQL_WLONGVARCHAR ||
            c->sqlType == SQL_LONGVARBINARY ||
            ((isText(c->sqlType) || isBinary(c->sqlType)) && (c->size == 0 || c->size > longLimit));
        if (c->isLong && firstLong == count)
            firstLong = i;
        chooseType((SQLUSMALLINT)(i + 1), c, bind, decimalNumeric);
        if (c->isLong)
            c->cType = isBinary(c->sqlType) ? SQL_C_BINARY
                       : bind == bindChar   ? SQL_C_CHAR
                                            : SQL_C_WCHAR;
    }
    if (getData) {
        firstLong = 0;
        for (SQLSMALLINT i = 0; i < count; ++i)
            columns[i].cType = SQL_C_WCHAR;
    }
    if (firstLong < count)
        arraySize = 1;

    /* Buffers: a row of values and indicators, each aligned to 8 bytes. */
    size_t rowSize = 0;
    for (SQLSMALLINT i = 0; i < firstLong; ++i) {
        struct Column* c = &columns[i];
        /* Column-wise the driver steps through an array by the buffer length. */
        c->width = (c->width + 7) & ~(SQLLEN)7;
        const size_t width = (size_t)c->width;
        if (rowWise) {
            c->valueAt = rowSize;
            c->indicatorAt = rowSize + width;
            rowSize += width + sizeof(SQLLEN);
        } else {
            c->valueAt = rowSize;
            c->indicatorAt = rowSize + width * (size_t)arraySize;
            rowSize += (width + sizeof(SQLLEN)) * (size_t)arraySize;
        }
    }
    char* buffer = calloc(rowWise ? rowSize * (size_t)arraySize : rowSize, 1);
    if (buffer == NULL && rowSize > 0) {
        perror(benchProgram);
        return 1;
    }
    SQLULEN fetched = 0;
    if (firstLong > 0) {
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                             (SQLPOINTER)(rowWise ? rowSize : SQL_BIND_BY_COLUMN), 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(SQL_ATTR_ROW_BIND_TYPE)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)(SQLULEN)arraySize, 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE)");
    }
    check(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
          "SQLSetStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR)");
    SQLHDESC ard = SQL_NULL_HANDLE;
    check(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, NULL), SQL_HANDLE_STMT, stmt,
          "SQLGetStmtAttr(SQL_ATTR_APP_ROW_DESC)");
    for (SQLSMALLINT i = 0; i < firstLong; ++i) {
        struct Column* c = &columns[i];
        const SQLUSMALLINT number = (SQLUSMALLINT)(i + 1);
        char* value = buffer + c->valueAt;
        check(SQLBindCol(stmt, number, c->cType, value, c->width,
                         (SQLLEN*)(void*)(buffer + c->indicatorAt)),
              SQL_HANDLE_STMT, stmt, "SQLBindCol");
        if (c->cType == SQL_C_NUMERIC) {
            /* Without the column's precision and scale the driver would cut the fraction;
             * setting them unbinds the data pointer, so it goes last. */
            check(SQLSetDescField(ard, number, SQL_DESC_TYPE, (SQLPOINTER)SQL_C_NUMERIC, 0),
                  SQL_HANDLE_DESC, ard, "SQLSetDescField(SQL_DESC_TYPE)");
            check(SQLSetDescField(ard, number, SQL_DESC_PRECISION, (SQLPOINTER)(SQLLEN)c->size, 0),
                  SQL_HANDLE_DESC, ard, "SQLSetDescField(SQL_DESC_PRECISION)");
            check(SQLSetDescField(ard, number, SQL_DESC_SCALE, (SQLPOINTER)(SQLLEN)c->digits, 0),
                  SQL_HANDLE_DESC, ard, "SQLSetDescField(SQL_DESC_SCALE)");
            check(SQLSetDescField(ard, number, SQL_DESC_DATA_PTR, value, 0), SQL_HANDLE_DESC, ard,
                  "SQLSetDescField(SQL_DESC_DATA_PTR)");
        }
    }

    long long rows = 0, warnings = 0;
    while (count > 0 && (rc = SQLFetch(stmt)) != SQL_NO_DATA) {
        check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
        if (rc == SQL_SUCCESS_WITH_INFO)
            ++warnings;
        for (SQLULEN r = 0; r < fetched && dump != NULL; ++r) {
            for (SQLSMALLINT i = 0; i < firstLong; ++i) {
                const struct Column* c = &columns[i];
                const size_t width = (size_t)c->width;
                const char* value =
                    rowWise ? buffer + r * rowSize + c->valueAt : buffer + c->valueAt + r * width;
                const SQLLEN* indicator =
                    (const SQLLEN*)(const void*)(rowWise ? buffer + r * rowSize + c->indicatorAt
                                                         : buffer + c->indicatorAt +
                                                               r * sizeof(SQLLEN));
                SQLLEN length = *indicator;
                if (length != SQL_NULL_DATA &&
                    (c->cType == SQL_C_SLONG || c->cType == SQL_C_SBIGINT ||
                     c->cType == SQL_C_DOUBLE || c->cType == SQL_C_TYPE_TIMESTAMP ||
                     c->cType == SQL_C_NUMERIC))
                    length = c->width;
                dumpValue(length, value);
            }
        }
        for (SQLSMALLINT i = firstLong; i < count; ++i)
            readLong((SQLUSMALLINT)(i + 1), columns[i].cType, piece, &whole, &wholeSize);
        rows += (long long)fetched;
    }
    while ((rc = SQLMoreResults(stmt)) != SQL_NO_DATA)
        check(rc, SQL_HANDLE_STMT, stmt, "SQLMoreResults");
    const double seconds = clockSeconds(CLOCK_MONOTONIC) - wallStart;
    const double cpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    free(buffer);
    free(whole);
    free(piece);
    free(columns);
    if (dump != NULL && fclose(dump) != 0) {
        perror(dumpPath);
        return 1;
    }
    printf("rows %lld\nseconds %.3f\ncpu_seconds %.3f\narray %ld\nwarnings %lld\n", rows, seconds,
           cpu, arraySize, warnings);
    return 0;
}
