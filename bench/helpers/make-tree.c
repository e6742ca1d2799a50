/* Writes a folder tree of files with pseudo-random content:
 *
 *     make-tree ROOT < LIST
 *
 * LIST has one line "SIZE<TAB>RELATIVE/PATH" per file; missing folders are made. The content
 * comes from a fixed-seed generator, different for every file and as incompressible as random
 * bytes, so that thousands of files are written without a process each. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

static int make_parents(char* path)
{
    for (char* p = path + 1; *p != '\0'; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        const int failed = mkdir(path, 0755) != 0 && errno != EEXIST;
        *p = '/';
        if (failed)
            return -1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make-tree ROOT < LIST\n");
        return 2;
    }
    static char line[8192];
    static char path[8192 + 4096];
    static uint64_t buffer[8192];
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    long count = 0;
    while (fgets(line, sizeof line, stdin) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        char* tab = strchr(line, '\t');
        if (tab == NULL)
            continue;
        *tab = '\0';
        long long size = atoll(line);
        snprintf(path, sizeof path, "%s/%s", argv[1], tab + 1);
        if (make_parents(path) != 0) {
            fprintf(stderr, "make-tree: folders of %s: %s\n", path, strerror(errno));
            return 1;
        }
        FILE* out = fopen(path, "wb");
        if (out == NULL) {
            fprintf(stderr, "make-tree: %s: %s\n", path, strerror(errno));
            return 1;
        }
        state ^= (uint64_t)++count * 0xD1B54A32D192ED03ULL;
        if (state == 0) /* the generator would stay at zero */
            state = 1;
        while (size > 0) {
            for (size_t i = 0; i < sizeof buffer / sizeof buffer[0]; ++i) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                buffer[i] = state;
            }
            const size_t chunk = size < (long long)sizeof buffer ? (size_t)size : sizeof buffer;
            if (fwrite(buffer, 1, chunk, out) != chunk) {
                fprintf(stderr, "make-tree: %s: %s\n", path, strerror(errno));
                return 1;
            }
            size -= (long long)chunk;
        }
        if (fclose(out) != 0) {
            fprintf(stderr, "make-tree: %s: %s\n", path, strerror(errno));
            return 1;
        }
    }
    return 0;
}
