/* Built without the plugin: none of its work is traced. */
int plainTwice(int (*callback)(int), int value) { return callback(callback(value)); }
