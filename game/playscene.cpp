#include "game/playscene.h"

#include <algorithm>
#include <cmath>

#include "game/gameinput.h"
#include "game/gamehelpers.h"
#include "game/gamesystem.h"
#include "game/timedigits.h"
#include "qel/appbase/qelrandom.h"

namespace {

constexpr D3DCOLOR kFloorColor = 0xFFC0C0C0;
constexpr D3DCOLOR kMapFloorColor = 0xFFFFFFFF;
constexpr D3DCOLOR kGoalColor = 0xFF80B080;
constexpr D3DCOLOR kMapGoalColor = 0xFF00FF00;
constexpr D3DCOLOR kStartShade = 0x60000000;
constexpr D3DCOLOR kContinueShade = 0x40000000;
constexpr D3DCOLOR kContinueBox = 0xC0000000;
constexpr std::int32_t kSeparator = 10;
constexpr std::int32_t kGradeGlyph = 11;
constexpr float kMapX = 500.0f;
constexpr float kMapY = 200.0f;
constexpr std::int32_t kMapScale = 12;
constexpr std::int32_t kTrail = 6;
// Where the render targets go, half a pixel up and left of the origin, so that
// each pixel samples its own texel. A pre-transformed quad at whole pixels
// samples texel corners: the linear filter would blend every pixel with its
// neighbours, and at the left and top edges, through the wrap addressing, with
// the target's far column and row (a faint column of the background wherever
// a floor reaches the field's left edge).
constexpr float kTexelAligned = -0.5f;

// The message pictures by item number; the others have none.
struct MessageFile {
  std::int32_t item;
  const char* file;
};
constexpr MessageFile kMessageFiles[] = {
    {0, "cg/ready.png"},       {1, "cg/count3.png"},      {2, "cg/count2.png"},      {3, "cg/count1.png"},
    {20, "cg/clear.png"},      {21, "cg/nura_op.png"},    {22, "cg/ScoreScreen.png"}, {26, "cg/balloon.png"},
    {40, "cg/miss.png"},       {45, "cg/timeup.png"},
};

float F(std::int32_t v) { return static_cast<float>(v); }

// Trails fade from the newest position: 63, 53, 42, 31, 21, 10.
int TrailAlpha(std::int32_t i) { return (kTrail - i) * 255 / 24; }

// The digits of a time and the glyph between them: m : s s : c c.
void TimeGlyphs(std::uint32_t ms, std::uint32_t glyphs[7]) {
  const C_TimeDigits d(ms);
  const std::uint32_t all[7] = {d.minutes, kSeparator, d.tensOfSeconds, d.seconds, kSeparator, d.tenths, d.hundredths};
  std::copy(all, all + 7, glyphs);
}

}  // namespace

C_PlayScene::C_PlayScene() {
  m_BodyPicture.SetFile("cg/ball01.png");
  m_EnemyPicture.SetFile("cg/ball02.png");
  m_CursorPicture.SetFile("cg/cursol.png");
  m_StatusPanel.SetSize(160.0f, 480.0f, 0xFF404040, 0.0f);
  m_MapPanel.SetSize(120.0f, 120.0f, 0xFF606060, 0.0f);
  m_CursorBase.SetFile("cg/CursolBase.png");
  m_MapView.SetSize(40.0f, 40.0f, 0x3000FFFF, 0.0f);
  m_MapBody.SetSize(3.0f, 3.0f, 0xFFFF0000, 0.0f);
  m_MapEnemy.SetSize(3.0f, 3.0f, 0xFF00FF00, 0.0f);
  m_StatusString.SetFile("cg/StatusString.png");
  m_TimeName.SetFile("cg/TimeName.png");
  m_FieldTarget.SetSize(512.0f, 512.0f, 0xFFFFFFFF, 0.0f);
  m_WaveTarget.SetSize(512.0f, 512.0f, 0xFFFFFFFF, 0.0f);
  m_FloorTile.SetFile("cg/check.png");
  m_WavePicture.SetFile("cg/circle_wave.png");
  m_Shade.SetSize(640.0f, 480.0f, kStartShade, 0.0f);
  m_BigNumber.SetFile("cg/BigNumber.png");
  m_BalloonMessage.SetFile("cg/BalloonMessage.png");
  m_ContinueString.SetFile("cg/ContinueString.png");
  for (const MessageFile& m : kMessageFiles) m_aMessages[m.item].SetFile(m.file);
  m_Number.SetFile("cg/number.png");
}

void C_PlayScene::BuildFloorSprites() {
  C_PlayLogic* play = g_GameObjects.play;
  if (!play) return;
  C_FloorData& data = play->GetFloorData();
  const std::vector<RECT>& floors = data.GetFloors();
  m_FloorQuads.clear();
  m_MapFloors.clear();
  for (const RECT& f : floors) {
    C_QuadSprite quad;
    quad.SetSize(F(f.right - f.left), F(f.bottom - f.top), kFloorColor, 0.0f);
    m_FloorQuads.push_back(quad);
    quad.SetSize(F(f.right / kMapScale - f.left / kMapScale), F(f.bottom / kMapScale - f.top / kMapScale),
                 kMapFloorColor, 0.0f);
    m_MapFloors.push_back(quad);
  }
  const RECT& goal = data.GetGoalRect();
  m_GoalQuad.SetSize(F(goal.right - goal.left), F(goal.bottom - goal.top), kGoalColor, 0.0f);
  m_MapGoal.SetSize(F(goal.right / kMapScale - goal.left / kMapScale),
                    F(goal.bottom / kMapScale - goal.top / kMapScale), kMapGoalColor, 0.0f);
  m_Field.SetMode(static_cast<std::int32_t>(g_Random.NextBelow(C_FieldDrawer::kModes)) + 1);
  play->SetFloorsBuilt();
}

void C_PlayScene::AddMissingPictures(std::vector<std::string>* names) const {
  if (!m_BodyPicture.GetTexture()) names->push_back(m_BodyPicture.GetFile());
  if (!m_FloorTile.GetTexture()) names->push_back(m_FloorTile.GetFile());
}

void C_PlayScene::Draw() {
  ++m_nFrame;
  C_PlayLogic* play = g_GameObjects.play;
  if (!play || !play->IsStarted()) return;
  if (!play->IsFloorsBuilt()) BuildFloorSprites();

  const float sx = F(play->GetScrollX());
  const float sy = F(play->GetScrollY());
  const C_Body& body = play->GetBody();
  const bool sunk = body.IsSunk();
  const std::int32_t phase = play->GetPhase();
  std::int32_t mx = 0;
  std::int32_t my = 0;
  GameCursor(&mx, &my);

  m_Field.Draw();
  // A falling body sinks beneath the floors.
  if (sunk) m_BodyPicture.Draw(body.GetX() - sx, body.GetY() - sy);
  DrawField(*play, sx, sy, sunk);
  const RECT& goal = play->GetFloorData().GetGoalRect();
  m_GoalQuad.Draw(F(goal.left) - sx, F(goal.top) - sy);
  DrawBodyAndEnemies(*play, sx, sy, sunk, mx, my);
  if (phase < C_PlayLogic::kPhasePlaying) DrawShade(kStartShade, 640.0f, 480.0f, 0.0f, 0.0f);
  DrawStatus(*play);
  DrawMiniMap(*play, sunk);
  m_CursorPicture.Draw(F(mx - 10), F(my - 10));
  if (phase == C_PlayLogic::kPhaseGoal) DrawShade(kStartShade, 640.0f, 480.0f, 0.0f, 0.0f);
  DrawMessages(*play);
  if (phase == C_PlayLogic::kPhaseGoal) DrawClearScreen(*play);
  if (phase == C_PlayLogic::kPhaseContinue) DrawContinueChoice(*play);
}

void C_PlayScene::DrawField(C_PlayLogic& play, float sx, float sy, bool sunk) {
  const std::int32_t scrollX = play.GetScrollX();
  const std::int32_t scrollY = play.GetScrollY();
  m_FieldTarget.BeginTarget(true);
  const std::vector<RECT>& floors = play.GetFloorData().GetFloors();
  const std::size_t count = std::min(floors.size(), m_FloorQuads.size());
  for (std::size_t n = 0; n < count; ++n) m_FloorQuads[n].Draw(F(floors[n].left) - sx, F(floors[n].top) - sy);
  // The tile pattern only colours what the floors made opaque, and scrolls with them.
  m_FloorTile.DrawRgbOnly(F(-(scrollX % 16)), F(-(scrollY % 16)));
  if (!sunk) DrawWaves(play, sx, sy);
  m_FieldTarget.EndTarget();
  m_FieldTarget.Draw(kTexelAligned, kTexelAligned);
}

void C_PlayScene::DrawWaves(C_PlayLogic& play, float sx, float sy) {
  const C_Body& body = play.GetBody();
  m_WaveTarget.BeginTarget(true);
  for (std::int32_t i = 0; i < 4; ++i) {
    const std::int32_t t = (15 * i + m_nFrame) % 60;
    const float scale = F(t) / 40.0f + 0.5f;
    const float shift = F(50 * t / 60 + 2);
    const int alpha = static_cast<int>(Clamp((60 - t) * 255 / 60, 255, 0));
    m_WavePicture.DrawScaled(body.GetHistoryX(t) - sx - shift, body.GetHistoryY(t) - sy - shift, scale, scale, 0.0f,
                             0.0f, alpha);
  }
  m_FloorTile.DrawRgbOnly(8.0f, 8.0f);
  m_WaveTarget.EndTarget();
  // The waves show on floors only, and not while the stage is being cleared.
  if (play.GetPhase() != C_PlayLogic::kPhaseGoal) m_WaveTarget.DrawRgbOnly(kTexelAligned, kTexelAligned);
}

void C_PlayScene::DrawBodyAndEnemies(C_PlayLogic& play, float sx, float sy, bool sunk, int mx, int my) {
  if (!sunk) {
    const C_Body& body = play.GetBody();
    for (std::int32_t i = 0; i < kTrail; ++i)
      m_BodyPicture.Draw(body.GetHistoryX(i) - sx, body.GetHistoryY(i) - sy, TrailAlpha(i));
    const float bx = body.GetX() - sx;
    const float by = body.GetY() - sy;
    m_BodyPicture.Draw(bx, by);
    // The steering pointer: where the cursor sits relative to the steering
    // centre, around the body, pulsing.
    const int pulse = static_cast<int>(10.0 * std::sin(m_nFrame * 3.14 / 40) + 48);
    m_BodyPicture.DrawAdditive(F(mx) + bx - F(C_PlayLogic::kSteerX), F(my) + by - F(C_PlayLogic::kSteerY), pulse);
  }
  for (const auto& enemy : play.GetEnemies()) {
    m_EnemyPicture.Draw(F(enemy->GetHistoryX(0)) - sx, F(enemy->GetHistoryY(0)) - sy);
    for (std::int32_t j = 0; j < kTrail; ++j)
      m_EnemyPicture.DrawAdditive(F(enemy->GetHistoryX(j)) - sx, F(enemy->GetHistoryY(j)) - sy, TrailAlpha(j));
  }
}

void C_PlayScene::DrawShade(D3DCOLOR color, float width, float height, float x, float y) {
  // The shade serves several sizes and colours: set them at every use.
  m_Shade.SetSize(width, height, color, 0.0f);
  m_Shade.Draw(x, y);
}

void C_PlayScene::DrawStatus(C_PlayLogic& play) {
  const C_FloorData& data = play.GetFloorData();
  m_StatusPanel.Draw(480.0f, 0.0f);
  m_MapPanel.Draw(kMapX, kMapY);
  m_CursorBase.Draw(510.0f, 350.0f);
  m_StatusString.Draw(500.0f, 10.0f);
  DrawTime(play.GetElapsed(), 530.0f, 130.0f);
  DrawTime(static_cast<std::uint32_t>(data.GetTimeLimit()), 530.0f, 90.0f);
  DrawTime(static_cast<std::uint32_t>(data.GetBestTime()), 530.0f, 30.0f);
  DrawName(data.GetBestName(), 570.0f, 50.0f);
  for (std::int32_t i = 0; i < play.GetLives(); ++i) m_BodyPicture.Draw(F(510 + 20 * i), 160.0f);
}

void C_PlayScene::DrawMiniMap(C_PlayLogic& play, bool sunk) {
  const C_MiniMap& map = play.GetMiniMap();
  const std::size_t count = std::min(m_MapFloors.size(), play.GetFloorData().GetFloors().size());
  for (std::size_t n = 0; n < count; ++n) {
    const RECT r = map.GetFloorRect(static_cast<std::int32_t>(n));
    m_MapFloors[n].Draw(F(r.left), F(r.top));
  }
  if (!sunk) {
    const C_Body& body = play.GetBody();
    m_MapBody.Draw(static_cast<float>(body.GetX() / 12.0 + kMapX), static_cast<float>(body.GetY() / 12.0 + kMapY));
  }
  const RECT& goal = play.GetFloorData().GetGoalRect();
  m_MapGoal.Draw(F(goal.left / kMapScale) + kMapX, F(goal.top / kMapScale) + kMapY);
  for (const auto& enemy : play.GetEnemies())
    m_MapEnemy.Draw(F(enemy->GetX() / kMapScale) + kMapX, F(enemy->GetY() / kMapScale) + kMapY);
  m_MapView.Draw(F(play.GetScrollX() / kMapScale) + kMapX, F(play.GetScrollY() / kMapScale) + kMapY);
}

void C_PlayScene::DrawMessages(const C_PlayLogic& play) {
  for (std::int32_t i = 0; i < C_PlayLogic::kItemCount; ++i) {
    const C_MessageItem& item = play.GetMessageItem(i);
    if (item.shown) m_aMessages[i].Draw(F(item.x), F(item.y));
  }
}

void C_PlayScene::DrawClearScreen(const C_PlayLogic& play) {
  const C_MessageItem& stageTime = play.GetMessageItem(C_PlayLogic::kItemTimeLine);
  const C_MessageItem& totalTime = play.GetMessageItem(C_PlayLogic::kItemTimeLine + 1);
  const C_MessageItem& grade = play.GetMessageItem(C_PlayLogic::kItemTimeLine + 2);
  const C_MessageItem& stamp = play.GetMessageItem(C_PlayLogic::kItemGradeStamp);
  if (stageTime.shown) DrawBigTime(play.GetElapsed(), F(stageTime.x), F(stageTime.y));
  if (totalTime.shown) DrawBigTime(play.GetElapsed() + play.GetTotalTime(), F(totalTime.x), F(totalTime.y));
  if (grade.shown) DrawBigGlyph(play.GetGrade() + kGradeGlyph, F(grade.x), F(grade.y));
  // The stamp wipes in as its rectangle widens.
  if (stamp.shown) m_BalloonMessage.Draw(F(stamp.x), F(stamp.y), 255, &play.GetGradeRect());
}

void C_PlayScene::DrawContinueChoice(const C_PlayLogic& play) {
  DrawShade(kContinueShade, 640.0f, 480.0f, 0.0f, 0.0f);
  DrawShade(kContinueBox, 440.0f, 140.0f, 100.0f, 180.0f);
  const RECT question{0, 0, 300, 28};
  m_ContinueString.Draw(180.0f, 200.0f, 255, &question);
  for (std::int32_t i = 0; i < 4; ++i) {
    const C_MessageItem& item = play.GetMessageItem(C_PlayLogic::kItemYes + i);
    if (!item.shown) continue;
    const RECT r{i % 2 * 91, (i / 2 + 1) * 28, (i % 2 + 1) * 91, (i / 2 + 2) * 28};
    m_ContinueString.Draw(F(item.x), F(item.y), 255, &r);
  }
}

void C_PlayScene::DrawTime(std::uint32_t ms, float x, float y) {
  std::uint32_t glyphs[7];
  TimeGlyphs(ms, glyphs);
  for (std::int32_t i = 0; i < 7; ++i) {
    const LONG g = static_cast<LONG>(glyphs[i]);
    const RECT r{10 * g, 0, 10 * (g + 1) - 1, 19};
    m_Number.Draw(x + F(10 * i), y, 255, &r);
  }
}

void C_PlayScene::DrawBigTime(std::uint32_t ms, float x, float y) {
  std::uint32_t glyphs[7];
  TimeGlyphs(ms, glyphs);
  for (std::int32_t i = 0; i < 7; ++i) DrawBigGlyph(static_cast<std::int32_t>(glyphs[i]), x + F(30 * i), y);
}

void C_PlayScene::DrawBigGlyph(std::int32_t glyph, float x, float y) {
  const RECT r{30 * glyph, 0, 30 * (glyph + 1) - 1, 39};
  m_BigNumber.Draw(x, y, 255, &r);
}

void C_PlayScene::DrawName(const char* name, float x, float y) {
  for (std::int32_t i = 0; i < 3 && name[i] != 0; ++i) {
    const char c = name[i];
    // The strip holds A to Z only; a name read from a damaged score file may hold anything.
    if (c < 'A' || c > 'Z') continue;
    RECT r;
    if (c - 'A' < 9) {
      r = RECT{10 * (c - 'A'), 0, 10 * (c - 'A' + 1) - 1, 18};
    } else if (c - 'A' < 18) {
      r = RECT{10 * (c - 'J'), 19, 10 * (c - 'I'), 37};
    } else {
      r = RECT{10 * (c - 'S'), 38, 10 * (c - 'R'), 54};
    }
    m_TimeName.Draw(x + F(10 * i), y, 255, &r);
  }
}
