#include "shell/app.h"

AppState& App() {
  static AppState state;
  return state;
}
