#include "output_sink.h"

#include "attribute.h"
#include "description.h"
#include "elog.h"
#include "gl_param.h"

/// The header of a measurement's output, or its fault. Its values start empty in each
/// file's parse; the traces say so as they always did.
static bool write_header(const MEASUREMENT_PLAN &plan, DATA_FILE *file)
{
    if (!plan.header_fault.isEmpty()) {
        elog.log(plan.header_fault);
        return false;
    }
    for (int i = 0; i < plan.clear_traces; ++i)
        elog.debug(3, "CALLED: ATTRIBUTE::clear_result()\n");
    if (file)
        file->append(plan.header);
    return true;
}

static bool prepare_match(const MEASUREMENT_PLAN &plan)
{
    if (!plan.match_fault.isEmpty()) {
        elog.log(plan.match_fault);
        return false;
    }
    return true;
}

bool has_measurements(const DESCRIPTION &description)
{
    if (!description.plans.empty() && description.plans.front().measurement->type == TOK_MEASUREMENT)
        return true;
    elog.log("ERROR: MEASUREMENT expected\n");
    return false;
}

bool publishes(long records)
{
    return !GL_param.skip_empty_outputs || records != 0;
}

OUTCOME OUTPUT_SINK::settle(const INPUT_FILE &, bool *done_before)
{
    *done_before = false;
    return OUTCOME::done();
}

OUTCOME OUTPUT_SINK::open_measurements(const DESCRIPTION &description,
                                       const std::function<OUTCOME(const MEASUREMENT_PLAN &)> &open_one)
{
    if (!has_measurements(description))
        return OUTCOME::failed();
    files.resize(description.plans.size());
    for (const MEASUREMENT_PLAN &plan : description.plans) {
        const OUTCOME opened = open_one(plan);
        if (!opened.ok())
            return opened;
        if (!write_header(plan, header_lines ? files[plan.index].get() : nullptr) || !prepare_match(plan))
            return OUTCOME::failed();
    }
    return OUTCOME::done();
}

