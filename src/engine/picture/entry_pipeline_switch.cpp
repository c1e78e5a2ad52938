#include "engine/picture/entry_pipeline.h"

#include "engine/host/host_source_lookup.h"
#include "module/ui_text.h"

namespace relaycast {

bool switchSource(EntryPipeline& pipeline, const QString& name, QString* out) {
    if (!pipeline.view && !pipeline.mainMix) {
        if (out)
            *out = uiText("La entrada no está emitiendo.");
        return false;
    }

    OBSSourceAutoRelease source = findHostSource(name);
    if (!source) {
        if (out)
            *out = uiText("«%1» no existe en OBS.").arg(name);
        return false;
    }

    // Only the view's content and the audio root change: encoder, outputs and connections
    // keep running untouched. OBS's main mix follows OBS's live scene by itself.
    setViewSource(pipeline, source);
    pipeline.audioTrack.setRoot(source);
    pipeline.sourceName = name.toUtf8();
    return true;
}

} // namespace relaycast
