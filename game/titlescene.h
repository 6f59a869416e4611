// The title screen: the title picture scrolling in over a blue ground, the
// character bobbing, the blinking prompt, and the menu box with the main
// menu, the course choice or the stage list with its records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/scene.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_TitleScene : public C_Scene {
 public:
  // Cells of the glyph sheet.
  static constexpr std::int32_t kGlyphWidth = 10;
  static constexpr std::int32_t kGlyphHeight = 20;
  static constexpr std::int32_t kSeparatorColumn = 10;
  static constexpr std::int32_t kHighlightRows = 3;
  static constexpr int kDimmedAlpha = 96;

  C_TitleScene();
  void Draw() override;
  // Adds the title picture's name when it did not load: no menu can be found
  // on a blank title.
  void AddMissingPictures(std::vector<std::string>* names) const;

  // The glyph in (column, row) of the sheet; highlighted glyphs are three rows down.
  void DrawGlyph(float x, float y, std::int32_t column, std::int32_t row, bool highlighted, int alpha);
  // "STAGE nn", the time m:ss:cc and up to three letters of the name.
  void DrawStageRow(float x, float y, bool highlighted, std::int32_t stage, std::int32_t time, const char* name,
                    int alpha);

 private:
  void DrawMenu(std::int32_t cursor);
  void DrawCourses(std::int32_t cursor, std::int32_t courses);
  void DrawStageList(std::int32_t cursor, std::int32_t page);

  C_QuadSprite m_Background;
  C_QuadSprite m_Strip;
  C_QuadSprite m_Bar;
  C_SpriteTexture m_Title;
  C_SpriteTexture m_Prompt;
  C_SpriteTexture m_Character;
  C_QuadSprite m_Box;
  C_SpriteTexture m_MenuItems;
  C_SpriteTexture m_CourseItems;
  C_SpriteTexture m_Glyphs;
};
