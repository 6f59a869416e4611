#include "game/titlescene.h"

#include "game/gamesystem.h"
#include "game/timedigits.h"

namespace {

constexpr D3DCOLOR kBoxColor = 0xC0000000;

// Item i of a menu picture: the plain row, or the hovered one below it.
RECT MenuRow(std::int32_t i, bool hovered) {
  const LONG top = 56 * i + (hovered ? 28 : 0);
  return RECT{0, top, 256, top + 27};
}

float F(std::int32_t v) { return static_cast<float>(v); }

}  // namespace

C_TitleScene::C_TitleScene() {
  m_Background.SetSize(640.0f, 480.0f, 0xFF8080FF, 0.0f);
  m_Strip.SetSize(640.0f, 20.0f, 0xFFFFFFFF, 0.0f);
  m_Bar.SetSize(30.0f, 480.0f, 0xFFFFFFFF, 0.0f);
  m_Title.SetFile("cg/title.png");
  m_Prompt.SetFile("cg/PB.png");
  m_Character.SetFile("cg/nura_op.png");
  m_MenuItems.SetFile("cg/TitleString.png");
  m_CourseItems.SetFile("cg/TitleString2.png");
  m_Glyphs.SetFile("cg/number.png");
}

void C_TitleScene::AddMissingPictures(std::vector<std::string>* names) const {
  if (!m_Title.GetTexture()) names->push_back(m_Title.GetFile());
}

void C_TitleScene::Draw() {
  const C_TitleLogic* title = g_GameObjects.title;
  if (!title) return;
  m_Background.Draw(0.0f, 0.0f);
  m_Strip.Draw(F(title->GetStripX()), 360.0f);
  m_Bar.Draw(450.0f, 0.0f);
  m_Character.Draw(20.0f, F(title->GetBob()));
  m_Title.Draw(400.0f, title->GetScroll());
  if (title->IsBlinkOn()) m_Prompt.Draw(20.0f, 400.0f);

  const std::int32_t subState = title->GetSubState();
  if (subState >= C_TitleLogic::kOpeningMenu && subState <= C_TitleLogic::kStages) {
    // The box grows downward while a menu opens.
    m_Box.SetSize(400.0f, F(title->GetBoxHeight()), kBoxColor, 0.0f);
    m_Box.Draw(F(title->GetBoxLeft()), F(title->GetBoxTop()));
  }
  if (subState == C_TitleLogic::kMenu) DrawMenu(title->GetCursor());
  if (subState == C_TitleLogic::kCourses) DrawCourses(title->GetCursor(), title->GetCourseCount());
  if (subState == C_TitleLogic::kStages) DrawStageList(title->GetCursor(), title->GetPage());
}

void C_TitleScene::DrawMenu(std::int32_t cursor) {
  for (std::int32_t i = 0; i < 2; ++i) {
    const RECT r = MenuRow(i, cursor == i + 1);
    m_MenuItems.Draw(220.0f, F(170 + 100 * i), 255, &r);
  }
}

void C_TitleScene::DrawCourses(std::int32_t cursor, std::int32_t courses) {
  for (std::int32_t i = 0; i < courses; ++i) {
    const RECT r = MenuRow(i, cursor == i + 1);
    m_CourseItems.Draw(230.0f, F(170 + 60 * i), 255, &r);
  }
}

void C_TitleScene::DrawStageList(std::int32_t cursor, std::int32_t page) {
  const C_TitleLogic* title = g_GameObjects.title;
  for (std::int32_t i = 0; i < C_TitleLogic::kStagesPerPage; ++i) {
    const std::int32_t stage = C_TitleLogic::kStagesPerPage * page + i + 1;
    const std::int32_t record = title->GetStageRecord(stage);
    DrawStageRow(130.0f, F(80 + 30 * i), cursor == i + 1, stage, record, title->GetStageName(stage),
                 record != 0 ? 255 : kDimmedAlpha);
  }
  // The page buttons.
  for (std::int32_t i = 0; i < 2; ++i) {
    const bool hovered = cursor == C_TitleLogic::kCursorPrevPage + i;
    const LONG top = hovered ? 100 : 40;
    const RECT r{132 + 40 * i, top, 171 + 40 * i, top + 19};
    m_Glyphs.Draw(F(130 + 340 * i), 410.0f, 255, &r);
  }
}

void C_TitleScene::DrawGlyph(float x, float y, std::int32_t column, std::int32_t row, bool highlighted, int alpha) {
  if (highlighted) row += kHighlightRows;
  const RECT r{kGlyphWidth * column, kGlyphHeight * row, kGlyphWidth * (column + 1), kGlyphHeight * (row + 1)};
  m_Glyphs.Draw(x, y, alpha, &r);
}

void C_TitleScene::DrawStageRow(float x, float y, bool highlighted, std::int32_t stage, std::int32_t time,
                                const char* name, int alpha) {
  const auto glyph = [&](float dx, std::int32_t column, std::int32_t row) {
    DrawGlyph(x + dx, y, column, row, highlighted, alpha);
  };
  // "STAGE": S and T sit in the third row, A, G and E in the second.
  const std::int32_t word[5][2] = {{5, 2}, {6, 2}, {0, 1}, {6, 1}, {4, 1}};
  for (std::int32_t i = 0; i < 5; ++i) glyph(F(10 + 10 * i), word[i][0], word[i][1]);
  glyph(65.0f, stage / 10 % 10, 0);
  glyph(75.0f, stage % 10, 0);
  glyph(170.0f, kSeparatorColumn, 0);
  glyph(200.0f, kSeparatorColumn, 0);
  const C_TimeDigits d(static_cast<std::uint32_t>(time));
  glyph(160.0f, static_cast<std::int32_t>(d.minutes), 0);
  glyph(180.0f, static_cast<std::int32_t>(d.tensOfSeconds), 0);
  glyph(190.0f, static_cast<std::int32_t>(d.seconds), 0);
  glyph(210.0f, static_cast<std::int32_t>(d.tenths), 0);
  glyph(220.0f, static_cast<std::int32_t>(d.hundredths), 0);
  for (std::int32_t k = 0; k < 3 && name && name[k] != 0; ++k) {
    const std::int32_t c = name[k] - 'A';
    // The sheet holds A to Z only; a damaged score file may hold anything.
    if (c < 0 || c > 25) continue;
    if (c <= 13) {
      glyph(F(260 + 10 * k), c, 1);
    } else {
      glyph(F(260 + 10 * k), c - 13, 2);
    }
  }
}
