#include "editor/video_encoder_list.h"

#include "module/ui_text.h"

#include <obs.h>

#include <cstring>

namespace relaycast {

namespace {

constexpr const char* kCpuEncoderId = "obs_x264";

// Deprecated and internal encoders are never offered.
constexpr uint32_t kHiddenCaps = OBS_ENCODER_CAP_DEPRECATED | OBS_ENCODER_CAP_INTERNAL;

bool isOfferedHardwareEncoder(const char* id) {
    if (std::strcmp(id, kCpuEncoderId) == 0)
        return false;
    if (obs_get_encoder_type(id) != OBS_ENCODER_VIDEO)
        return false;
    const char* codec = obs_get_encoder_codec(id);
    if (!codec || std::strcmp(codec, "h264") != 0)
        return false;
    return (obs_get_encoder_caps(id) & kHiddenCaps) == 0;
}

} // namespace

QList<VideoEncoderChoice> listVideoEncoders() {
    QList<VideoEncoderChoice> choices;
    const char* id = nullptr;
    for (size_t index = 0; obs_enum_encoder_types(index, &id); ++index) {
        if (!id || !isOfferedHardwareEncoder(id))
            continue;
        const char* displayName = obs_encoder_get_display_name(id);
        const QString name = QString::fromUtf8(displayName ? displayName : id);
        choices.append({QString::fromUtf8(id), name + uiText(" · tarjeta gráfica")});
    }
    if (!choices.isEmpty()) {
        choices.first().label += uiText(" · recomendado");
        choices.append({QString::fromLatin1(kCpuEncoderId), uiText("CPU (x264)")});
    } else {
        choices.append({QString::fromLatin1(kCpuEncoderId), uiText("CPU (x264) · recomendado")});
    }
    return choices;
}

} // namespace relaycast
