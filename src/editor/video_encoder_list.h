#pragma once

#include <QList>
#include <QString>

namespace relaycast {

// One video encoder the editor offers: the host encoder type id and the label shown for it.
struct VideoEncoderChoice {
    QString id;
    QString label;
};

// The H.264 encoders the editor offers, in order: the usable hardware encoders in host order
// (the first marked recommended), then the CPU encoder "obs_x264", which is the recommended
// one when no hardware encoder is usable.
QList<VideoEncoderChoice> listVideoEncoders();

} // namespace relaycast
