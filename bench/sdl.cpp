// The same scroller as an SDL2 user would write it, as a reference for the benchmark: the map composed
// once into a surface in the window's own pixel format and uploaded as one static texture, then per
// frame a clear, one copy of the camera's 640 x 480 rectangle and a present, without vsync. The
// renderer is SDL's default unless SDL_RENDER_DRIVER names one. Run in a directory holding map.txt and
// untitled.bmp; a held arrow key scrolls 3 pixels per tick at 60 ticks a second, Escape quits.
#include <SDL2/SDL.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int, char **)
{
  if (SDL_Init(SDL_INIT_VIDEO) != 0)
    return 1;
  SDL_Window *window = SDL_CreateWindow("sdl", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 640, 480, 0);
  SDL_Renderer *renderer = window ? SDL_CreateRenderer(window, -1, 0) : nullptr;
  SDL_Surface *sheet = SDL_LoadBMP("untitled.bmp");
  if (renderer == nullptr || sheet == nullptr)
    return 1;
  const Uint32 format = SDL_GetWindowPixelFormat(window);
  SDL_Surface *map = SDL_CreateRGBSurfaceWithFormat(0, 1200, 1200, 32, format);
  std::ifstream rows("map.txt");
  std::string row;
  for (int y = 0; y < 24 && std::getline(rows, row); y++)
    for (int x = 0; x < 24 && x < static_cast<int>(row.size()); x++) {
      SDL_Rect from = {50 * static_cast<signed char>(row[x]), 0, 50, 50}, to = {50 * x, 50 * y, 50, 50};
      SDL_BlitSurface(sheet, &from, map, &to);
    }
  SDL_Texture *texture = SDL_CreateTextureFromSurface(renderer, map);
  SDL_RendererInfo info;
  SDL_GetRendererInfo(renderer, &info);
  Uint32 textureFormat;
  SDL_QueryTexture(texture, &textureFormat, nullptr, nullptr, nullptr);
  std::fprintf(stderr, "renderer %s, window %s, texture %s\n", info.name, SDL_GetPixelFormatName(format),
               SDL_GetPixelFormatName(textureFormat));

  const Uint64 tickLength = SDL_GetPerformanceFrequency() / 60;
  Uint64 nextTick = SDL_GetPerformanceCounter();
  SDL_Rect camera = {0, 0, 640, 480};
  const Uint8 *keys = SDL_GetKeyboardState(nullptr);
  for (bool running = true; running;) {
    for (SDL_Event event; SDL_PollEvent(&event);)
      running = running && event.type != SDL_QUIT;
    running = running && !keys[SDL_SCANCODE_ESCAPE];
    for (; SDL_GetPerformanceCounter() >= nextTick; nextTick += tickLength) {
      camera.x = SDL_clamp(camera.x + 3 * (keys[SDL_SCANCODE_RIGHT] - keys[SDL_SCANCODE_LEFT]), 0, 560);
      camera.y = SDL_clamp(camera.y + 3 * (keys[SDL_SCANCODE_DOWN] - keys[SDL_SCANCODE_UP]), 0, 720);
    }
    SDL_RenderClear(renderer);
    SDL_RenderCopy(renderer, texture, &camera, nullptr);
    SDL_RenderPresent(renderer);
  }
  SDL_DestroyTexture(texture);
  SDL_FreeSurface(map);
  SDL_FreeSurface(sheet);
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
