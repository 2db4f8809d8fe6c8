#include "engine/common/StreamSelection.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

void keepOnlyStreams(AVFormatContext* input, std::initializer_list<int> wanted) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const bool kept = std::find(wanted.begin(), wanted.end(), static_cast<int>(i)) != wanted.end();
        input->streams[i]->discard = kept ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}
