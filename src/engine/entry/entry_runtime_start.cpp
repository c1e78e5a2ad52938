#include "engine/destinations/destination_host.h"
#include "engine/encoding/service_check.h"
#include "engine/entry/entry_runtime.h"
#include "engine/picture/entry_pipeline.h"

#include "address/address.h"
#include "module/ui_text.h"

#include <exception>

namespace relaycast {
namespace {

void recordFailure(EntryRuntime& runtime, const QString& id, const QString& text, QString* out) {
    const QString message = maskAddressQueries(text);
    DestinationStatus s;
    s.state = DestinationState::Failed;
    s.message = message;
    runtime.lastStatus.insert(id, s);
    if (out)
        *out = message;
    if (runtime.outputs.empty())
        retirePipeline(runtime);
}

// What a start needs to know of a stream or a recording.
struct Started {
    const QString& id;
    const SendChoice& envio;
    const DestConfig* stream;       // or
    const RecordingSink* recording; // with its claim on the file
};

bool startUnguarded(EntryRuntime& runtime, const EntryConfig& entry, const Started& sink,
                    QString* out, std::unique_ptr<RecordingFileClaim>& file) {
    if (runtime.outputs.contains(sink.id))
        return true;
    runtime.lastStatus.remove(sink.id);
    if (sink.stream && sink.stream->needsSecretsAgain()) {
        // Streaming with an empty key would only be refused by the server, or worse, accepted.
        recordFailure(runtime, sink.id,
                      uiText("La clave guardada de este destino no se puede abrir en este equipo. "
                             "Escríbela de nuevo con «✎ Editar»."),
                      out);
        return false;
    }

    if (sink.stream) {
        // What the service would refuse or drop is said before anything connects.
        if (const QString refusal = serviceRefusal(entry, *sink.stream, runtime.pipeline.get());
            !refusal.isEmpty()) {
            recordFailure(runtime, sink.id, refusal, out);
            return false;
        }
    }

    if (!runtime.pipeline) {
        auto pipeline = std::make_unique<EntryPipeline>();
        QString message;
        if (!openPipeline(*pipeline, entry, &message)) {
            pipeline.reset();
            recordFailure(runtime, sink.id, message, out);
            return false;
        }
        runtime.pipeline = std::move(pipeline);
    }

    auto d = sink.stream ? std::make_unique<DestinationOutput>(*sink.stream, runtime.clock,
                                                               runtime.hostCalls)
                         : std::make_unique<DestinationOutput>(*sink.recording, runtime.clock,
                                                               runtime.hostCalls);
    d->pipeline = runtime.pipeline;
    d->fileClaim = std::move(file);
    QString message;
    const auto open = d->recording ? openRecordingOutput : openDestinationOutput;
    if (open(*d, *runtime.pipeline, entry, sink.envio, &message) && d->beginStart(&message)) {
        runtime.outputs.emplace(sink.id, std::move(d));
        return true;
    }
    retireDestination(std::move(d));
    recordFailure(runtime, sink.id, message, out);
    return false;
}

bool startGuarded(EntryRuntime& runtime, const EntryConfig& entry, const Started& sink,
                  QString* out, std::unique_ptr<RecordingFileClaim> file) {
    try {
        return startUnguarded(runtime, entry, sink, out, file);
    } catch (const std::exception& e) {
        const QString what = QString::fromUtf8(e.what());
        recordFailure(runtime, sink.id,
                      what.isEmpty() ? uiText("Error inesperado al iniciar la emisión.")
                                     : uiText("Error inesperado: %1").arg(what),
                      out);
    } catch (...) {
        recordFailure(runtime, sink.id, uiText("Error inesperado al iniciar la emisión."), out);
    }
    return false;
}

} // namespace

bool startDestination(EntryRuntime& runtime, const EntryConfig& entry, const DestConfig& dest,
                      QString* out) {
    return startGuarded(runtime, entry, {dest.id, dest.envio, &dest, nullptr}, out, nullptr);
}

bool startRecording(EntryRuntime& runtime, const EntryConfig& entry, const RecordingSink& sink,
                    std::unique_ptr<RecordingFileClaim> file, QString* out) {
    return startGuarded(runtime, entry, {sink.id, sink.envio, nullptr, &sink}, out,
                        std::move(file));
}

} // namespace relaycast
