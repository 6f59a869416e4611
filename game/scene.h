// The drawing of a game state. A scene reads its logic through the objects
// published at start-up and draws one frame; it changes nothing but its own
// pictures and counters.
#pragma once

class C_Scene {
 public:
  C_Scene() = default;
  C_Scene(const C_Scene&) = delete;
  C_Scene& operator=(const C_Scene&) = delete;
  virtual ~C_Scene() = default;

  virtual void Draw() = 0;
};
