// Every engine-side record other than routes, in one include.
#pragma once

#include "engine/records/ai_records.h"
#include "engine/records/ca_info.h"
#include "engine/records/chaos_records.h"
#include "engine/records/environment_records.h"
#include "engine/records/error_reply.h"
#include "engine/records/event_records.h"
#include "engine/records/project_records.h"
#include "engine/records/record_ids.h"
#include "engine/records/route_records.h"
#include "engine/records/schema_records.h"
#include "engine/records/traffic_records.h"
