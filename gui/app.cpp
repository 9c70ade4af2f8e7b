#include "gui/app.h"

AppState& App() {
  static AppState state;
  return state;
}
