/* JPEG decoding with libjpeg, see PicturesJpeg.h. */
#include "PicturesJpeg.h"

#include <limits.h>
#include <setjmp.h>
#include <stdio.h> /* jpeglib.h needs FILE */
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>

typedef struct kv_jpeg_error {
    struct jpeg_error_mgr pub;
    jmp_buf jump;
} kv_jpeg_error;

static void kv_jpeg_fail(j_common_ptr cinfo)
{
    kv_jpeg_error* err = (kv_jpeg_error*)cinfo->err;
    longjmp(err->jump, 1);
}

/* Level -1 is libjpeg's warning: corrupt or missing data that it would
 * replace with grey and carry on. Trace messages (level >= 0) are ignored. */
static void kv_jpeg_message(j_common_ptr cinfo, int level)
{
    if (level < 0)
        kv_jpeg_fail(cinfo);
}

/* Nothing goes to stderr: the caller only needs "damaged or not". */
static void kv_jpeg_quiet(j_common_ptr cinfo)
{
    (void)cinfo;
}

/* A progressive file may hold thousands of tiny scans, each of which costs a
 * pass over the whole coefficient buffer; a few kilobytes of such input can
 * keep the decoder busy for minutes. Real pictures have about ten scans. */
static void kv_jpeg_progress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        j_decompress_ptr d = (j_decompress_ptr)cinfo;
        if (d->input_scan_number > KV_JPEG_MAX_SCANS)
            kv_jpeg_fail(cinfo);
    }
}

void kv_jpeg_free(void* data)
{
    free(data);
}

int kv_jpeg_decode(const unsigned char* data, size_t size, kv_jpeg_pixels* out)
{
    struct jpeg_decompress_struct cinfo;
    kv_jpeg_error err;
    struct jpeg_progress_mgr progress;
    /* Written after setjmp and read after the jump: must be volatile. */
    unsigned char* volatile pixels = NULL;
    size_t stride;

    if (out == NULL)
        return -1;
    memset(out, 0, sizeof *out);
    if (data == NULL || size == 0 || size > ULONG_MAX)
        return -1;

    memset(&cinfo, 0, sizeof cinfo);
    memset(&progress, 0, sizeof progress);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = kv_jpeg_fail;
    err.pub.emit_message = kv_jpeg_message;
    err.pub.output_message = kv_jpeg_quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        free(pixels);
        return -1;
    }

    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = (long)KV_JPEG_MAX_WORK_MB * 1024L * 1024L;
    progress.progress_monitor = kv_jpeg_progress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, (unsigned long)size);

    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        kv_jpeg_fail((j_common_ptr)&cinfo);
    if (cinfo.image_width == 0 || cinfo.image_height == 0
        || cinfo.image_width > KV_JPEG_MAX_SIDE || cinfo.image_height > KV_JPEG_MAX_SIDE)
        kv_jpeg_fail((j_common_ptr)&cinfo);

    /* Grey and colour pictures both come out as RGB; CMYK cannot be
     * converted and fails in jpeg_start_decompress. */
#ifdef JCS_ALPHA_EXTENSIONS
    {
        const unsigned int one = 1;
        const int little_endian = *(const unsigned char*)&one == 1;
        /* 0xFFRRGGBB as a native word; the alpha byte is set to 0xFF. */
        cinfo.out_color_space = little_endian ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    }
#else
    cinfo.out_color_space = JCS_RGB;
#endif
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    jpeg_start_decompress(&cinfo);
    if ((cinfo.output_components != 3 && cinfo.output_components != 4)
        || cinfo.output_width != cinfo.image_width
        || cinfo.output_height != cinfo.image_height)
        kv_jpeg_fail((j_common_ptr)&cinfo);

    stride = ((size_t)cinfo.output_width * (size_t)cinfo.output_components + 3u) & ~(size_t)3u;
    pixels = (unsigned char*)malloc(stride * cinfo.output_height);
    if (pixels == NULL)
        kv_jpeg_fail((j_common_ptr)&cinfo);

    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels + (size_t)cinfo.output_scanline * stride;
        /* A memory source never suspends, so no progress means a fault. */
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            kv_jpeg_fail((j_common_ptr)&cinfo);
    }
    jpeg_finish_decompress(&cinfo);

    out->data = pixels;
    out->width = (int)cinfo.output_width;
    out->height = (int)cinfo.output_height;
    out->stride = (int)stride;
    out->bytes_per_pixel = cinfo.output_components;
    jpeg_destroy_decompress(&cinfo);
    return 0;
}
