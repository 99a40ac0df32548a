// Anchor so the library exists before its first class lands.
