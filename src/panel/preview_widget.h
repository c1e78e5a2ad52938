#pragma once

#include <QWidget>

namespace relaycast {

// The native window a host display draws an entry's preview on. It has no paint engine, so
// the toolkit never paints over what the host renders there.
class PreviewWidget : public QWidget {
public:
    explicit PreviewWidget(QWidget* parent = nullptr);
    ~PreviewWidget() override;

    QPaintEngine* paintEngine() const override;
};

} // namespace relaycast
