#pragma once

#include "results/deployment.h"

// Test seam: points the upload at other servers (their hosts, ports, login,
// CA file and time-outs). The product never calls it. nullptr restores the
// product's deployment. The pointed-to value must outlive its use; not
// thread-safe.
void setDeploymentForTesting(const ResultsDeployment* deployment);
