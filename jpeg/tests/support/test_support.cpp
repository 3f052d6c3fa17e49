// Shared helpers for the codec tests live in this folder; each helper file
// has a header of the same name.
