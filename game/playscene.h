// The drawing of single-stage and course play: the scrolling field with its
// background, the floors (a tile pattern shown only where floors are, with
// waves behind the body), the goal, the body and enemies with their trails,
// the status panel with times, best name and lives, the mini map, the cursor
// and every message picture the play logic shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/fielddrawer.h"
#include "game/playlogic.h"
#include "game/scene.h"
#include "game/stripsprite.h"
#include "qel/appbase/qelquadsprite.h"
#include "qel/appbase/qelspritetexture.h"

class C_PlayScene : public C_Scene {
 public:
  C_PlayScene();

  void Draw() override;
  // Builds the current stage's floor, goal and map quads, picks a background
  // pattern and marks the floors built.
  void BuildFloorSprites();

  // Small digits at (x, y): m:ss:cc.
  void DrawTime(std::uint32_t ms, float x, float y);
  // Large digits, the same layout three times as wide.
  void DrawBigTime(std::uint32_t ms, float x, float y);
  // One large glyph: 0 to 9, 10 the separator, 11 to 13 the grade symbols.
  void DrawBigGlyph(std::int32_t glyph, float x, float y);
  // Up to three letters A to Z, stopping at the first 0.
  void DrawName(const char* name, float x, float y);

  // Adds the names of the pictures the stages cannot be played without (the
  // body and the floor tile) that did not load.
  void AddMissingPictures(std::vector<std::string>* names) const;

  std::int32_t GetFrame() const { return m_nFrame; }
  const C_FieldDrawer& GetFieldDrawer() const { return m_Field; }
  std::size_t GetFloorQuadCount() const { return m_FloorQuads.size(); }

 private:
  // Floors, tile and waves into the field target, then the target on screen.
  void DrawField(C_PlayLogic& play, float sx, float sy, bool sunk);
  void DrawWaves(C_PlayLogic& play, float sx, float sy);
  void DrawBodyAndEnemies(C_PlayLogic& play, float sx, float sy, bool sunk, int mx, int my);
  void DrawStatus(C_PlayLogic& play);
  void DrawMiniMap(C_PlayLogic& play, bool sunk);
  void DrawShade(D3DCOLOR color, float width, float height, float x, float y);
  void DrawMessages(const C_PlayLogic& play);
  void DrawClearScreen(const C_PlayLogic& play);
  void DrawContinueChoice(const C_PlayLogic& play);

  C_FieldDrawer m_Field;
  C_SpriteTexture m_BodyPicture;
  C_SpriteTexture m_EnemyPicture;
  C_SpriteTexture m_CursorPicture;
  std::vector<C_QuadSprite> m_FloorQuads;
  C_QuadSprite m_GoalQuad;
  C_QuadSprite m_StatusPanel;
  C_QuadSprite m_MapPanel;
  C_SpriteTexture m_CursorBase;
  C_QuadSprite m_MapView;
  C_QuadSprite m_MapBody;
  C_QuadSprite m_MapEnemy;
  C_QuadSprite m_MapGoal;
  C_SpriteTexture m_StatusString;
  C_SpriteTexture m_TimeName;
  C_RenderTargetSprite m_FieldTarget;
  C_RenderTargetSprite m_WaveTarget;
  C_StripSprite m_FloorTile;
  C_SpriteTexture m_WavePicture;
  std::vector<C_QuadSprite> m_MapFloors;
  C_QuadSprite m_Shade;
  C_SpriteTexture m_BigNumber;
  C_SpriteTexture m_BalloonMessage;
  C_SpriteTexture m_ContinueString;
  C_SpriteTexture m_aMessages[C_PlayLogic::kItemCount];
  C_SpriteTexture m_Number;
  // Calls of Draw; times the scene's effects.
  std::int32_t m_nFrame = 0;
};
