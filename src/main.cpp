// Quarrow: a tile map scrolled with the arrow keys; Escape quits.
#include <cstdlib>

#include "log.h"
#include "tile.h"

int main()
{
  initGame();
  mainLoop();
  endGame();
  // A log cut short (a full disk) is a failure whoever started the game should hear of.
  return logWhole() ? 0 : EXIT_FAILURE;
}
END_OF_MAIN()
