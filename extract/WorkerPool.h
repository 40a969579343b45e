#pragma once

#include "DocumentService.h"
#include "DocumentWorker.h"

#include <memory>

// Documents built by a pool of worker processes, for the window: each load borrows a worker, which then holds the
// document it built until the document is dropped. A load ahead and the one being read out each have their own.
std::unique_ptr<DocumentService> createWorkerDocuments(DocumentWorkerSettings settings);
