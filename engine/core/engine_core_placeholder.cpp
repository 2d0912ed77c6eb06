// Placeholder until this module has sources of its own; delete it when adding the first one.
namespace {
[[maybe_unused]] int placeholder_engine_core;
}
