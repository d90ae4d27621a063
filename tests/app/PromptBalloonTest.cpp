#include "faces/qt/tray/PromptBalloon.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

const QRect kScreen(0, 0, 1280, 900);

TEST(PlaceBalloon, ByTheIconOnTheScreenAndNeverOverATitleBar) {
  const QRect trayTopRight(1256, 2, 24, 24);
  const QSize size(280, 60);
  QRect free = PlaceBalloon(trayTopRight, size, kScreen, {});
  EXPECT_EQ(free.topRight(), QPoint(1279, 29)) << "under the icon, against the screen's edge";

  // A window at the top right: its title bar and buttons lie where the
  // balloon would go.
  const QRect titleBar(136, 51, 1010, 18);
  QRect placed = PlaceBalloon(trayTopRight, size, kScreen, {titleBar});
  EXPECT_FALSE(placed.intersects(titleBar));
  EXPECT_TRUE(kScreen.contains(placed));
  EXPECT_GT(placed.top(), titleBar.bottom());
  EXPECT_LE(placed.top(), titleBar.bottom() + 8) << "just below the title bar";

  // A tray at the bottom, a window's title bar just above it.
  const QRect trayBottom(1256, 874, 24, 24);
  const QRect lowBar(900, 820, 380, 30);
  placed = PlaceBalloon(trayBottom, size, kScreen, {lowBar});
  EXPECT_FALSE(placed.intersects(lowBar));
  EXPECT_LT(placed.bottom(), lowBar.top());

  // No room past the bar on the screen: beside it instead.
  const QRect tallBar(1100, 28, 180, 870);
  placed = PlaceBalloon(trayTopRight, size, kScreen, {tallBar});
  EXPECT_FALSE(placed.intersects(tallBar));
  EXPECT_TRUE(kScreen.contains(placed));

  EXPECT_TRUE(kScreen.contains(PlaceBalloon(QRect(), size, kScreen, {}))) << "an icon of unknown place";
}

}  // namespace
}  // namespace vantrel
