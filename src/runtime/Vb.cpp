// Placeholder; replaced by the full VB runtime functions.
