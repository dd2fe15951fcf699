// The Python classes of single graph records, by family: the named concepts (Entity, Resource,
// Role), the connections (Flow, Relation), the instances (ResourceInstance, Instance) and the
// interchange records (Mapping, Projection).
#pragma once

#include "python/concept_classes.h"
#include "python/connection_classes.h"
#include "python/instance_classes.h"
#include "python/mapping_classes.h"
