// The survey's and key check's rows as text and JSON, the same for every face and report: the
// meter's address, frames, scans, RSSI min/mean/max, security, verdict, key entry and check value
// (never a key).
#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "link/survey_rows.h"

// One row as the "meters" array holds it: {"id","manufacturer","version","type","frames","scans",
// "rssiMinDbm","rssiMeanDbm","rssiMaxDbm","security","verdict","keyEntry","kcv"}.
nlohmann::ordered_json surveyRowJson(const SurveyRow& row);
// One row of the table, in the columns ID MAN VE TY FRAMES SCANS RSSI SECURITY VERDICT.
std::string surveyRowText(const SurveyRow& row);
// Every row as the "meters" array.
nlohmann::ordered_json surveyMetersJson(const SurveyRows& rows);
