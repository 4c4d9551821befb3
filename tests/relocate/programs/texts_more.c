/* The same literal in a second translation unit: the linker keeps both
   copies, which a rule with REPEAT=1 relocates together. */
void say(const char* label, const char* text);

void say_from_another_file(void)
{
    say("repeated", "Repeated in two files");
}
