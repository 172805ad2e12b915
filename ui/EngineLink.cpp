#include "ui/EngineLink.h"

namespace {

CEngineLink* g_link = nullptr;

}  // namespace

CEngineLink& Engine() { return g_link != nullptr ? *g_link : ProcessEngineLink(); }

void SetEngineLink(CEngineLink* link) { g_link = link; }
