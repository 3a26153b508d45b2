#pragma once

#include "results/deployment.h"

// Test seam: points the upload at other servers (their hosts, ports, login,
// CA file, time limits and reply limit). The product never calls it.
//
// The pointed-to value is copied by each upload when it starts (and by each
// activeDeployment call), so it must stay valid until the seam is cleared and
// be changed only while no upload runs; an upload in flight when the seam is
// cleared finishes against the servers it started with. A test deployment
// never uses a proxy from the environment, whatever its useEnvironmentProxy.
//
// nullptr clears the seam. Once a test deployment has been set in a process,
// clearing it never brings back the product's hosts: the deployment in force
// is then a closed one, both hosts 127.0.0.1 on a port that nothing listens
// on (a connection is refused at once). Thread-safe.
void setDeploymentForTesting(const ResultsDeployment* deployment);
