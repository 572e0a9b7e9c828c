// Keeps the support library non-empty while an area has no helpers of its own.
