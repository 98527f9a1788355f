/* A program built against an installed VxMedia, as a user's would be: it
 * prints the stream count, the video frame count and the video bytes of an
 * AVI file. */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>
#include <vxmedia/vxmedia.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    AviReader* reader = NULL;
    if (aviOpen(&reader, (HANDLE)(intptr_t)fd, argv[1]) != 0) {
        fprintf(stderr, "%s: not a readable AVI file\n", argv[1]);
        close(fd);
        return 1;
    }
    const uint32_t frames = aviGetAVIHeader(reader)->dwTotalFrames;
    uint64_t bytes = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        uint32_t size = 0;
        if (aviReadFrame(reader, (int32_t)f, NULL, &size, NULL) != 0) {
            fprintf(stderr, "%s: frame %u cannot be read\n", argv[1], f);
            return 1;
        }
        bytes += size;
    }
    printf("streams %u frames %u bytes %llu\n", aviGetStreamCount(reader), frames,
           (unsigned long long)bytes);
    aviClose(reader);
    close(fd);
    return 0;
}
