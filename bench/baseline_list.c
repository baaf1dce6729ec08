/* The least a listing of the card can do per recording: walk the folder, open the file by its
 * path and read the 23-byte record at offset 256, open it again and ask for its size.
 * Prints the elapsed microseconds, the number of records read and their total size.
 *
 *   baseline_list FOLDER
 */
#define _POSIX_C_SOURCE 200809L
#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int upper(int c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

/* "VOC*.WAV" without regard to case, exactly 12 bytes long. */
static int is_recording_name(const char* name)
{
    static const char pattern[] = "VOC?????.WAV";
    if (strlen(name) != 12)
        return 0;
    for (int i = 0; i < 12; ++i)
        if (pattern[i] != '?' && upper((unsigned char)name[i]) != pattern[i])
            return 0;
    return 1;
}

static double now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const double start = now_us();
    DIR* dir = opendir(argv[1]);
    if (dir == NULL) {
        perror(argv[1]);
        return 1;
    }
    const size_t folder_length = strlen(argv[1]);
    if (folder_length + 14 > PATH_MAX) {
        fprintf(stderr, "%s: folder name too long\n", argv[1]);
        return 1;
    }
    char path[PATH_MAX];
    memcpy(path, argv[1], folder_length);
    path[folder_length] = '/';
    long records = 0;
    unsigned long long total_size = 0;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (!is_recording_name(entry->d_name))
            continue;
        memcpy(path + folder_length + 1, entry->d_name, 13);
        unsigned char header[23];
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t got = pread(fd, header, sizeof header, 256);
        close(fd);
        if (got != (ssize_t)sizeof header)
            continue;
        fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (fstat(fd, &info) == 0)
            total_size += (unsigned long long)info.st_size;
        close(fd);
        ++records;
    }
    closedir(dir);
    printf("%.0f %ld %llu\n", now_us() - start, records, total_size);
    return 0;
}
