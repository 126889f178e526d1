#include "deploy/workflow.h"

#include "components/component.h"
#include "conditions/condition.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "deploy/text.h"
#include "ui/main_window.h"

namespace Deploy {

void Run() {
  // The stages come with the workflow; until then a run only reads nothing
  // and cleans up, so the window opens and closes again.
  MainWindow::ShowStatus(LoadText(205));
  Component::ClearComponents();
  Condition::ClearConditions();
  CondString::ClearCondStrings();
  Flag::ClearFlags();
}

}  // namespace Deploy
