// Quarrow: a tile map scrolled with the arrow keys; Escape quits.
#include "tile.h"

int main()
{
  initGame();
  mainLoop();
  endGame();
  return 0;
}
END_OF_MAIN()
