// The operation buttons: opcode, control id, caption and body of each.
#include "operations.h"

#include "resource.h"

// In the order of the opcodes; opcode 15 belongs to no button.
const std::array<operation_entry, 15> operation_table = {{
    {1, IDC_OP_ADD, "X&+Y", op_add},
    {2, IDC_OP_SUB, "X&-Y", op_subtract},
    {3, IDC_OP_MUL, "X&*Y", op_multiply},
    {4, IDC_OP_DIV, "X&/Y", op_divide},
    {5, IDC_OP_POWER, "X&^n", op_power},
    {6, IDC_OP_ROOT, "X^(1/&n)", op_root},
    {7, IDC_OP_POWMOD, "X^Y &MOD Z", op_powmod},
    {8, IDC_OP_MODDIV, "Ans =Y/X MO&D Z", op_modular_divide},
    {9, IDC_OP_GCD, "&GCD(X,Y)", op_gcd},
    {10, IDC_OP_FACTORIAL, "X &!", op_factorial},
    {opcode_prime, IDC_OP_PRIME, "&Prime(X)", nullptr},
    {12, IDC_OP_LINEAR_MOD, "(A&X+BY)%Z", op_linear_mod},
    {13, IDC_OP_PRODUCT, "X*Y*Z*A*&B", op_product},
    {14, IDC_OP_POWMOD2, "X^A*Y^B M&OD Z", op_powmod2},
    {16, IDC_OP_POWER_SUM, "X^A+&Y^B+Z", op_power_sum},
}};

const operation_entry* find_operation(int opcode) {
    for (const operation_entry& op : operation_table) {
        if (op.opcode == opcode) return &op;
    }
    return nullptr;
}

const operation_entry* find_operation_by_button(int button_id) {
    for (const operation_entry& op : operation_table) {
        if (op.button_id == button_id) return &op;
    }
    return nullptr;
}
