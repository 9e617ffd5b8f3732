/* Plain C JPEG decoding for the window's pictures.
 *
 * libjpeg reports fatal errors by longjmp. Keeping the decoder in C means the
 * jump can never skip a C++ destructor: the only frames it crosses are this
 * file's and libjpeg's own. */
#ifndef KV_PICTURES_JPEG_H
#define KV_PICTURES_JPEG_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bounds for untrusted input: a picture larger than this is refused before
 * any pixel memory is taken, and the decoder's own working memory is capped. */
enum {
    KV_JPEG_MAX_SIDE = 1024,           /* pixels, each of width and height:
                                          the largest picture is 593 x 433   */
    KV_JPEG_MAX_SCANS = 256,           /* progressive scans, see the .c file */
    KV_JPEG_MAX_WORK_MB = 64           /* libjpeg's own buffers              */
};

/* A decoded picture, rows of `stride` bytes (a multiple of 4, so the rows can
 * be handed to an image class as they are). With libjpeg-turbo's extended
 * colour spaces each pixel is one native 32-bit word 0xFFRRGGBB
 * (bytes_per_pixel 4), which a screen pixmap takes without converting;
 * otherwise packed R, G, B bytes (bytes_per_pixel 3). `data` is malloc'ed;
 * release it with kv_jpeg_free. */
typedef struct kv_jpeg_pixels {
    unsigned char* data;
    int width;
    int height;
    int stride;
    int bytes_per_pixel;
} kv_jpeg_pixels;

/* Decodes a whole JPEG file held in memory. Returns 0 and fills `out` on
 * success. On any error, and also on every warning that libjpeg would paper
 * over (truncated data, corrupt entropy codes, bad markers), returns -1 and
 * leaves `out` zeroed: a damaged picture is not shown half grey. */
int kv_jpeg_decode(const unsigned char* data, size_t size, kv_jpeg_pixels* out);

/* Frees the pixels of a successful decode (null is allowed). */
void kv_jpeg_free(void* data);

#ifdef __cplusplus
}
#endif

#endif
