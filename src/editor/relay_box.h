#pragma once

#include "config/config_model.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace relaycast {

// The entry dialog's "Relé propio" section: the address of the streamer's own relay, its
// statistics page, the address it takes a publish from, the secret (made here, shown masked),
// what is wrong with them as they are typed, and writing the relay's configuration files. The
// line under it says when the files written last no longer match the destinations.
class RelayBox : public QWidget {
    Q_OBJECT

public:
    // The entry as the dialog's fields stand, its relay taken from this box.
    using EntryOf = std::function<EntryConfig()>;

    // While the entry streams (`liveLocked`) the settings stay as stored; the files can still
    // be written.
    RelayBox(const RelayConfig& relay, bool liveLocked, QWidget* parent = nullptr);
    ~RelayBox() override;

    void setEntryOf(EntryOf entryOf);
    RelayConfig result() const;
    // The section holds an address: destinations may be marked for the relay.
    bool hasAddress() const;
    // What is wrong with the settings for the entry as shown; empty when nothing is.
    QString error() const;
    // Reads the error and stale lines again from the entry as shown.
    void refresh();
    void setSecretVisible(bool visible);

    QToolButton* toggle() const { return toggle_; }
    QWidget* panel() const { return panel_; }
    QLineEdit* ingestEdit() const { return ingest_; }
    QLineEdit* statsEdit() const { return stats_; }
    QLineEdit* allowEdit() const { return allow_; }
    QLineEdit* secretEdit() const { return secret_; }
    QPushButton* newSecretButton() const { return newSecret_; }
    QPushButton* writeButton() const { return write_; }
    QLabel* errorLabel() const { return error_; }
    QLabel* staleLabel() const { return stale_; }

Q_SIGNALS:
    // A setting changed, or whether it holds an address.
    void relayChanged();

private:
    void onIngestChanged(const QString& text);
    void writeFiles();

    RelayConfig source_;
    EntryOf entryOf_;
    QToolButton* toggle_ = nullptr;
    QWidget* panel_ = nullptr;
    QLineEdit* ingest_ = nullptr;
    QLineEdit* stats_ = nullptr;
    QLineEdit* allow_ = nullptr;
    QLineEdit* secret_ = nullptr;
    QPushButton* newSecret_ = nullptr;
    QPushButton* write_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* stale_ = nullptr;
    QString written_; // the digest of the configuration last written
};

} // namespace relaycast
