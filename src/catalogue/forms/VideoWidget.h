#pragma once
// The picture area of a player: a native child window whose id is handed to libvlc, which
// draws the video into it. Used by the films and channels windows and by control-panel
// players. The widget owns its player, or shows one it is given (which must outlive it).
//
// Player events reach their handlers through the user-interface queue; the player guards
// every queued call, so a window (and its player) may be destroyed while events are still
// queued: they are dropped.
#include <QWidget>
#include <memory>

#include "catalogue/PasLibVlcPlayer.h"

class TVideoWidget : public QWidget {
  Q_OBJECT
public:
  // Without a player the widget makes its own ("http-caching=1200" media option, as every new
  // player).
  explicit TVideoWidget(QWidget* parent = nullptr, TPasLibVlcPlayer* player = nullptr);
  ~TVideoWidget() override;

  TPasLibVlcPlayer& Player() { return *FPlayer; }
  bool OwnsPlayer() const { return FOwned != nullptr; }

  // Whether the picture goes to this widget's window (false on platforms without X11 windows,
  // such as the offscreen platform of the tests, where the player plays without a picture).
  bool HasVideoWindow() const { return FWindowHanded; }

  // The picture ratio of the films and channels windows.
  static constexpr double KRatio169 = 1.7777777777777777778;
  // The largest size of the given ratio inside Avail (whichever side is too long shrinks).
  static QSize FitRatio(const QSize& avail, double ratio);

  // Before the first player of a program without X11 windows is made: libvlc gets dummy
  // video and sound outputs, so no window of its own opens.
  static void PrepareLibVlc();

protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  void HandWindow();
  std::unique_ptr<TPasLibVlcPlayer> FOwned;
  TPasLibVlcPlayer* FPlayer;
  bool FWindowHanded = false;
};
