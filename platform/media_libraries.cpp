// The FFmpeg libraries behind the media runtime, bound on first use rather
// than at program start: linked directly they bring some 130 shared
// libraries that every run loads and relocates, a conversion that never
// touches them (WAV, Ogg Vorbis, APE) included. Each FFmpeg function the
// platform layer calls is defined here and forwards to the library's own,
// looked up once. A library that cannot be loaded is tried again at the next
// call; until then a function with a result raises the loader's message, and
// one without (the freeing and resetting kind, which a failed open may still
// call on its empty handles) does nothing.
//
// A function the platform layer starts to call gets its line at the end of
// this file; one that lacks it shows as an undefined reference at link time.
//
// Compiled with hidden visibility: these definitions serve this program
// only and never stand in for the functions the libraries call among
// themselves.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/media_libraries.h"
#include "platform/messages.h"

#define QM_STRINGIFY2(x) #x
#define QM_STRINGIFY(x) QM_STRINGIFY2(x)

namespace {

// In dependency order, by the major versions of the headers compiled against.
constexpr const char* kLibraryNames[] = {
    "libavutil.so." QM_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libswresample.so." QM_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR),
    "libavcodec.so." QM_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." QM_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};
constexpr int kLibraryCount = sizeof kLibraryNames / sizeof kLibraryNames[0];

std::mutex g_loadLock;
void* g_handles[kLibraryCount] = {};
std::atomic<bool> g_loaded{false};

// Loads what is not loaded yet; the name of the first library that failed,
// or empty.
std::string LoadAll() {
  std::lock_guard lock(g_loadLock);
  for (int i = 0; i < kLibraryCount; ++i) {
    if (g_handles[i] == nullptr) g_handles[i] = dlopen(kLibraryNames[i], RTLD_NOW | RTLD_LOCAL);
    if (g_handles[i] == nullptr) return kLibraryNames[i];
  }
  g_loaded = true;
  return {};
}

// The library's own function, or nullptr (with the failing library's name
// in Missing) when the libraries cannot be loaded.
void* Lookup(const char* Name, std::string& Missing) {
  if (!g_loaded) Missing = LoadAll();
  if (!Missing.empty()) return nullptr;
  for (int i = kLibraryCount; i-- > 0;) {
    if (void* f = dlsym(g_handles[i], Name)) return f;
  }
  Missing = Name;
  return nullptr;
}

// The function in Slot, looked up the first time.
void* Resolve(std::atomic<void*>& Slot, const char* Name, std::string& Missing) {
  void* f = Slot.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = Lookup(Name, Missing);
    if (f != nullptr) Slot.store(f, std::memory_order_release);
  }
  return f;
}

template <typename F>
F BindOrNull(std::atomic<void*>& Slot, const char* Name) {
  std::string missing;
  return reinterpret_cast<F>(Resolve(Slot, Name, missing));
}

template <typename F>
F Bind(std::atomic<void*>& Slot, const char* Name) {
  std::string missing;
  void* f = Resolve(Slot, Name, missing);
  if (f == nullptr) throw std::runtime_error(FormatMessage(kFmtLibraryNotLoaded, {missing}));
  return reinterpret_cast<F>(f);
}

}  // namespace

bool platform::MediaLibrariesLoaded() { return g_loaded; }

#define QM_BIND(name)                                    \
  ([]() {                                                \
    static std::atomic<void*> slot{nullptr};             \
    return Bind<decltype(&::name)>(slot, #name);         \
  }())
#define QM_BIND_OR_NULL(name)                            \
  ([]() {                                                \
    static std::atomic<void*> slot{nullptr};             \
    return BindOrNull<decltype(&::name)>(slot, #name);   \
  }())

extern "C" {

AVAudioFifo *av_audio_fifo_alloc(enum AVSampleFormat sample_fmt, int channels, int nb_samples) { return QM_BIND(av_audio_fifo_alloc)(sample_fmt, channels, nb_samples); }
void av_audio_fifo_free(AVAudioFifo *af) {
  if (auto* f = QM_BIND_OR_NULL(av_audio_fifo_free)) f(af);
}
int av_audio_fifo_read(AVAudioFifo *af, void **data, int nb_samples) { return QM_BIND(av_audio_fifo_read)(af, data, nb_samples); }
int av_audio_fifo_size(AVAudioFifo *af) { return QM_BIND(av_audio_fifo_size)(af); }
int av_audio_fifo_write(AVAudioFifo *af, void **data, int nb_samples) { return QM_BIND(av_audio_fifo_write)(af, data, nb_samples); }
int av_channel_layout_compare(const AVChannelLayout *chl, const AVChannelLayout *chl1) { return QM_BIND(av_channel_layout_compare)(chl, chl1); }
int av_channel_layout_copy(AVChannelLayout *dst, const AVChannelLayout *src) { return QM_BIND(av_channel_layout_copy)(dst, src); }
void av_channel_layout_default(AVChannelLayout *ch_layout, int nb_channels) {
  if (auto* f = QM_BIND_OR_NULL(av_channel_layout_default)) f(ch_layout, nb_channels);
}
void av_channel_layout_uninit(AVChannelLayout *channel_layout) {
  if (auto* f = QM_BIND_OR_NULL(av_channel_layout_uninit)) f(channel_layout);
}
int av_dict_copy(AVDictionary **dst, const AVDictionary *src, int flags) { return QM_BIND(av_dict_copy)(dst, src, flags); }
void av_dict_free(AVDictionary **m) {
  if (auto* f = QM_BIND_OR_NULL(av_dict_free)) f(m);
}
AVDictionaryEntry *av_dict_get(const AVDictionary *m, const char *key, const AVDictionaryEntry *prev, int flags) { return QM_BIND(av_dict_get)(m, key, prev, flags); }
int av_dict_set(AVDictionary **pm, const char *key, const char *value, int flags) { return QM_BIND(av_dict_set)(pm, key, value, flags); }
AVFrame *av_frame_alloc() { return QM_BIND(av_frame_alloc)(); }
void av_frame_free(AVFrame **frame) {
  if (auto* f = QM_BIND_OR_NULL(av_frame_free)) f(frame);
}
int av_frame_get_buffer(AVFrame *frame, int align) { return QM_BIND(av_frame_get_buffer)(frame, align); }
void av_frame_unref(AVFrame *frame) {
  if (auto* f = QM_BIND_OR_NULL(av_frame_unref)) f(frame);
}
void av_free(void *ptr) {
  if (auto* f = QM_BIND_OR_NULL(av_free)) f(ptr);
}
void av_freep(void *ptr) {
  if (auto* f = QM_BIND_OR_NULL(av_freep)) f(ptr);
}
int av_interleaved_write_frame(AVFormatContext *s, AVPacket *pkt) { return QM_BIND(av_interleaved_write_frame)(s, pkt); }
void av_log_set_level(int level) {
  if (auto* f = QM_BIND_OR_NULL(av_log_set_level)) f(level);
}
void *av_malloc(size_t size) { return QM_BIND(av_malloc)(size); }
int av_opt_set_int(void *obj, const char *name, int64_t val, int search_flags) { return QM_BIND(av_opt_set_int)(obj, name, val, search_flags); }
AVPacket *av_packet_alloc() { return QM_BIND(av_packet_alloc)(); }
void av_packet_free(AVPacket **pkt) {
  if (auto* f = QM_BIND_OR_NULL(av_packet_free)) f(pkt);
}
void av_packet_rescale_ts(AVPacket *pkt, AVRational tb_src, AVRational tb_dst) {
  if (auto* f = QM_BIND_OR_NULL(av_packet_rescale_ts)) f(pkt, tb_src, tb_dst);
}
void av_packet_unref(AVPacket *pkt) {
  if (auto* f = QM_BIND_OR_NULL(av_packet_unref)) f(pkt);
}
void av_parser_close(AVCodecParserContext *s) {
  if (auto* f = QM_BIND_OR_NULL(av_parser_close)) f(s);
}
AVCodecParserContext *av_parser_init(int codec_id) { return QM_BIND(av_parser_init)(codec_id); }
int av_parser_parse2(AVCodecParserContext *s, AVCodecContext *avctx, uint8_t **poutbuf, int *poutbuf_size, const uint8_t *buf, int buf_size, int64_t pts, int64_t dts, int64_t pos) { return QM_BIND(av_parser_parse2)(s, avctx, poutbuf, poutbuf_size, buf, buf_size, pts, dts, pos); }
int av_read_frame(AVFormatContext *s, AVPacket *pkt) { return QM_BIND(av_read_frame)(s, pkt); }
int64_t av_rescale(int64_t a, int64_t b, int64_t c) { return QM_BIND(av_rescale)(a, b, c); }
int64_t av_rescale_q(int64_t a, AVRational bq, AVRational cq) { return QM_BIND(av_rescale_q)(a, bq, cq); }
int av_samples_set_silence(uint8_t **audio_data, int offset, int nb_samples, int nb_channels, enum AVSampleFormat sample_fmt) { return QM_BIND(av_samples_set_silence)(audio_data, offset, nb_samples, nb_channels, sample_fmt); }
int av_seek_frame(AVFormatContext *s, int stream_index, int64_t timestamp, int flags) { return QM_BIND(av_seek_frame)(s, stream_index, timestamp, flags); }
int av_write_trailer(AVFormatContext *s) { return QM_BIND(av_write_trailer)(s); }
const AVCodecDescriptor *avcodec_descriptor_get(enum AVCodecID id) { return QM_BIND(avcodec_descriptor_get)(id); }
AVCodecContext *avcodec_alloc_context3(const AVCodec *codec) { return QM_BIND(avcodec_alloc_context3)(codec); }
const AVCodec *avcodec_find_decoder(enum AVCodecID id) { return QM_BIND(avcodec_find_decoder)(id); }
const AVCodec *avcodec_find_encoder(enum AVCodecID id) { return QM_BIND(avcodec_find_encoder)(id); }
void avcodec_flush_buffers(AVCodecContext *avctx) {
  if (auto* f = QM_BIND_OR_NULL(avcodec_flush_buffers)) f(avctx);
}
void avcodec_free_context(AVCodecContext **avctx) {
  if (auto* f = QM_BIND_OR_NULL(avcodec_free_context)) f(avctx);
}
int avcodec_open2(AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options) { return QM_BIND(avcodec_open2)(avctx, codec, options); }
int avcodec_parameters_from_context(AVCodecParameters *par, const AVCodecContext *codec) { return QM_BIND(avcodec_parameters_from_context)(par, codec); }
int avcodec_parameters_to_context(AVCodecContext *codec, const AVCodecParameters *par) { return QM_BIND(avcodec_parameters_to_context)(codec, par); }
int avcodec_receive_frame(AVCodecContext *avctx, AVFrame *frame) { return QM_BIND(avcodec_receive_frame)(avctx, frame); }
int avcodec_receive_packet(AVCodecContext *avctx, AVPacket *avpkt) { return QM_BIND(avcodec_receive_packet)(avctx, avpkt); }
int avcodec_send_frame(AVCodecContext *avctx, const AVFrame *frame) { return QM_BIND(avcodec_send_frame)(avctx, frame); }
int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt) { return QM_BIND(avcodec_send_packet)(avctx, avpkt); }
AVFormatContext *avformat_alloc_context() { return QM_BIND(avformat_alloc_context)(); }
int avformat_alloc_output_context2(AVFormatContext **ctx, const AVOutputFormat *oformat, const char *format_name, const char *filename) { return QM_BIND(avformat_alloc_output_context2)(ctx, oformat, format_name, filename); }
void avformat_close_input(AVFormatContext **s) {
  if (auto* f = QM_BIND_OR_NULL(avformat_close_input)) f(s);
}
int avformat_find_stream_info(AVFormatContext *ic, AVDictionary **options) { return QM_BIND(avformat_find_stream_info)(ic, options); }
void avformat_free_context(AVFormatContext *s) {
  if (auto* f = QM_BIND_OR_NULL(avformat_free_context)) f(s);
}
AVStream *avformat_new_stream(AVFormatContext *s, const AVCodec *c) { return QM_BIND(avformat_new_stream)(s, c); }
int avformat_open_input(AVFormatContext **ps, const char *url, const AVInputFormat *fmt, AVDictionary **options) { return QM_BIND(avformat_open_input)(ps, url, fmt, options); }
int avformat_seek_file(AVFormatContext *s, int stream_index, int64_t min_ts, int64_t ts, int64_t max_ts, int flags) { return QM_BIND(avformat_seek_file)(s, stream_index, min_ts, ts, max_ts, flags); }
int avformat_write_header(AVFormatContext *s, AVDictionary **options) { return QM_BIND(avformat_write_header)(s, options); }
int avio_accept(AVIOContext *s, AVIOContext **c) { return QM_BIND(avio_accept)(s, c); }
AVIOContext *avio_alloc_context(unsigned char *buffer, int buffer_size, int write_flag, void *opaque, int (*read_packet)(void *opaque, uint8_t *buf, int buf_size), int (*write_packet)(void *opaque, uint8_t *buf, int buf_size), int64_t (*seek)(void *opaque, int64_t offset, int whence)) { return QM_BIND(avio_alloc_context)(buffer, buffer_size, write_flag, opaque, read_packet, write_packet, seek); }
int avio_closep(AVIOContext **s) { return QM_BIND(avio_closep)(s); }
void avio_context_free(AVIOContext **s) {
  if (auto* f = QM_BIND_OR_NULL(avio_context_free)) f(s);
}
void avio_flush(AVIOContext *s) {
  if (auto* f = QM_BIND_OR_NULL(avio_flush)) f(s);
}
int avio_handshake(AVIOContext *c) { return QM_BIND(avio_handshake)(c); }
int avio_open(AVIOContext **s, const char *url, int flags) { return QM_BIND(avio_open)(s, url, flags); }
int avio_open2(AVIOContext **s, const char *url, int flags, const AVIOInterruptCB *int_cb, AVDictionary **options) { return QM_BIND(avio_open2)(s, url, flags, int_cb, options); }
void avio_write(AVIOContext *s, const unsigned char *buf, int size) {
  if (auto* f = QM_BIND_OR_NULL(avio_write)) f(s, buf, size);
}
int swr_alloc_set_opts2(struct SwrContext **ps, AVChannelLayout *out_ch_layout, enum AVSampleFormat out_sample_fmt, int out_sample_rate, AVChannelLayout *in_ch_layout, enum AVSampleFormat in_sample_fmt, int in_sample_rate, int log_offset, void *log_ctx) { return QM_BIND(swr_alloc_set_opts2)(ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout, in_sample_fmt, in_sample_rate, log_offset, log_ctx); }
void swr_close(struct SwrContext *s) {
  if (auto* f = QM_BIND_OR_NULL(swr_close)) f(s);
}
int swr_convert(struct SwrContext *s, uint8_t **out, int out_count, const uint8_t **in, int in_count) { return QM_BIND(swr_convert)(s, out, out_count, in, in_count); }
void swr_free(struct SwrContext **s) {
  if (auto* f = QM_BIND_OR_NULL(swr_free)) f(s);
}
int swr_get_out_samples(struct SwrContext *s, int in_samples) { return QM_BIND(swr_get_out_samples)(s, in_samples); }
int swr_init(struct SwrContext *s) { return QM_BIND(swr_init)(s); }
int swr_is_initialized(struct SwrContext *s) { return QM_BIND(swr_is_initialized)(s); }

}  // extern "C"
