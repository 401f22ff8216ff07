// "Site plan": the modal dialog that names a plan, its template and its report and the action.
#pragma once
#include <fx.h>

#include <optional>
#include <string>

// What the dialog asks for; action is one of siteDialogActions.
struct SitePlanRequest {
  std::string plan;
  std::string settingsTemplate;  // empty: none
  std::string report;            // empty: none
  int action = 0;
};

constexpr const char* siteDialogActions[] = {"Check", "Apply", "Verify"};
constexpr int siteDialogActionCount = 3;
enum SiteDialogAction { siteCheck, siteApply, siteVerify };

// Runs the dialog (fields filled from last); the request on "Run", nothing on "Cancel" or close.
std::optional<SitePlanRequest> runSitePlanDialog(FXWindow* owner, const SitePlanRequest& last);
