#include "ui/app.hpp"

namespace orvik::ui {

void push_event(App& app, session_log::SessionEvent event) {
  app.store.ingest(event);
  if (app.events.size() >= MAX_EVENTS) app.events.pop_front();
  app.events.push_back(std::move(event));
}

}  // namespace orvik::ui
