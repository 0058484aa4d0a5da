#pragma once
#include <QWidget>

namespace skelvar::rcon {

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    explicit MonitorWindow(QWidget* parent = nullptr);
};

}  // namespace skelvar::rcon
