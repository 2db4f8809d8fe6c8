#include "engine/common/BitstreamFilters.h"

extern "C" {
#include <libavcodec/bsf.h>
}

OpenedFilter openBitstreamFilter(const char* name, const AVCodecParameters* par, AVRational timeBase) {
    const AVBitStreamFilter* kind = av_bsf_get_by_name(name);
    AVBSFContext* raw = nullptr;
    int ret = kind ? av_bsf_alloc(kind, &raw) : AVERROR_BSF_NOT_FOUND;
    OpenedFilter opened{ffmpeg::BitstreamFilter(raw)};
    if (ret >= 0) ret = avcodec_parameters_copy(raw->par_in, par);
    if (ret >= 0) {
        raw->time_base_in = timeBase;
        ret = av_bsf_init(raw);
    }
    opened.error = ret < 0 ? ret : 0;
    return opened;
}
