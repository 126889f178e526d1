#include "deploy/frontend.h"

#include "deploy/quiet_frontend.h"

namespace Deploy {

namespace {
// With no front end set, nothing is shown and every question is answered No.
QuietFrontend quietFrontend;
Frontend* currentFrontend = &quietFrontend;
}  // namespace

Frontend& CurrentFrontend() {
  return *currentFrontend;
}

void SetFrontend(Frontend* frontend) {
  currentFrontend = frontend ? frontend : &quietFrontend;
}

}  // namespace Deploy
