#pragma once
// The busy animation: a ring of dots that turns while a job runs and shows
// nothing otherwise.

#include <QTimer>
#include <QWidget>

namespace tbx {

class BusyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit BusyAnimation(QWidget* parent = nullptr);

    void StartBusy();
    void StopBusy();
    bool IsPlaying() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnTick();

    QTimer timer_;
    int frame_ = 0;
};

} // namespace tbx
